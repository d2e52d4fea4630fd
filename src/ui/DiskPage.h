// The disk page of the control bar: a tree of the host's folders (from "/" and from the user's
// home) with the zip archives in them, the disk images of the selected folder or archive, the
// description of the selected image, drive A with its Insert and Eject buttons, the
// auto-insert switch, what programs wrote to the disks in drives A and B (kept beside their
// images: saved as a new image, or forgotten) and the two reset buttons.
//
// The page reaches the machine only through the App, which may rebuild it at a cold reset.
// Folders that cannot be read and damaged archives are shown with their problem; the page goes
// on. Paths are built within the settings' 511 bytes: a longer one is refused, never cut.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/PageHost.h"

namespace vexil {

class DiskPage {
public:
    static constexpr const char* kHint = "Return to menu when running: F12";

    struct Node {
        std::string name;  // as shown
        std::string path;  // ends with '/'; empty when it would be too long
        bool archive = false;
        bool expanded = false;    // its children have been listed
        bool hasChildren = true;  // until a listing finds none
        std::string problem;      // why it cannot be listed or selected
        int parent = -1;
        std::vector<int> children;
    };

    // What the page shows of the selected image; empty texts are shown empty.
    struct Description {
        std::string fileName, fileSize, fileFormat, tracks, sectors, sides, capacity, compression, bootSector;
    };

    explicit DiskPage(PageHost& app);

    // Starts the page afresh, as each showing does: the tree from its roots with the folder of
    // `Directory` opened and selected, the list of its images, no image selected.
    void Open();

    // Counts the openings: nodes of one opening are not those of another.
    int Generation() const { return generation_; }
    const std::vector<Node>& Nodes() const { return nodes_; }
    const std::vector<int>& Roots() const { return roots_; }
    // Lists a folder's or archive's children, once.
    void Expand(int node);
    // Makes a folder or archive the one shown: `Directory` takes its path and the list its images.
    void Select(int node);
    int SelectedNode() const { return selectedNode_; }
    // Set by Open: the view scrolls the tree to the selected folder once, then clears it.
    bool revealSelection = false;

    const std::vector<std::string>& Images() const { return images_; }
    // Why the selected folder or archive could not be read (wholly); empty when it could.
    const std::string& ListProblem() const { return listProblem_; }
    // An image picked in the list: described, and inserted when auto-insert is on.
    void SelectImage(int index);
    int SelectedImage() const { return selectedImage_; }
    const std::string& SelectedPath() const { return selectedPath_; }
    const Description& Described() const { return description_; }

    // Drive A.
    void Insert();
    void Eject();
    bool DriveAHoldsImage() const;
    // The file name part of `DriveA`.
    std::string DriveAName() const;
    // The last images opened, newest first; picking one inserts it.
    const std::vector<std::string>& RecentImages() const { return app_.Config().RecentImages; }
    void InsertRecent(size_t index);
    // Why the last insertion failed; empty after a success or an eject.
    const std::string& InsertProblem() const { return insertProblem_; }

    // Drive C: (the setting `FolderDrive`): the folder shown in the tree becomes the drive, or
    // there is none; the machine takes it at the next cold reset.
    void UseFolderAsDriveC();
    void RemoveDriveC();
    const std::string& DriveCFolder() const;

    // What programs wrote to the disk in a drive (0 A, 1 B): "changed (N sectors)", or empty
    // when nothing was written.
    std::string ChangedText(int drive) const;
    // The path typed for "Save as new image..." (.msa for an MSA file, else a raw image); Open
    // suggests one beside the selected folder.
    std::string newImagePath[2];
    // Writes the disk as it reads now to newImagePath; never over an existing file.
    void SaveAsNewImage(int drive);
    // Drops what was written and deletes its overlay file.
    void ForgetChanges(int drive);
    // What the last save or forget did, or why it failed.
    const std::string& ChangesMessage() const { return changesMessage_; }

    bool AutoInsert() const;
    void SetAutoInsert(bool on);
    void WarmReset();
    void ColdReset();

private:
    int AddNode(int parent, const std::string& name, bool archive);
    int FindChild(int node, const std::string& name) const;
    void Describe(const std::string& name);

    PageHost& app_;
    int generation_ = 0;
    std::vector<Node> nodes_;
    std::vector<int> roots_;
    int selectedNode_ = -1;
    std::vector<std::string> images_;
    std::string listProblem_;
    int selectedImage_ = -1;
    std::string selectedPath_;
    Description description_;
    std::string insertProblem_;
    std::string changesMessage_;
};

}  // namespace vexil
