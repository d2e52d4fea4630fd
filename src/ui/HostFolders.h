// The host's folders and zip archives as the control bar's pages walk them: a folder's
// sub-folders and files, an archive's entries, and paths joined within a length limit.
//
// Folder paths here always end with '/'; an archive shown as a folder ends with ".zip/", and an
// image inside it is named "<archive>.zip/<entry>", the form OpenImageStream opens.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vexil {

// Joins a folder path (ending with '/') and a name, adding '/' when `asFolder`. False, with
// `out` left empty, when the result would be longer than `maxLength` bytes or the name is empty
// or holds a '/': a path is never cut short into another one.
bool JoinPath(std::string_view folder, std::string_view name, bool asFolder, size_t maxLength,
              std::string& out);

// True when `name` ends with `suffix`, letters compared without regard to case.
bool EndsWithNoCase(std::string_view name, std::string_view suffix);
bool SameNameNoCase(std::string_view a, std::string_view b);

// The disk image names the page lists: ".msa", ".st", ".dim", ".fdi" in any case.
bool IsDiskImageName(std::string_view name);

struct FolderListing {
    bool readable = false;
    std::string problem;               // why it could not be read
    std::vector<std::string> folders;  // sub-folders not starting with '.', sorted
    std::vector<std::string> files;    // regular files, sorted
};

// Lists one folder. A folder that cannot be opened gives readable = false and the reason; an
// entry that cannot be examined is left out.
FolderListing ListFolder(const std::string& folder);

struct ArchiveListing {
    bool readable = false;  // the archive could be opened and holds at least a local header
    bool damaged = false;   // the walk did not reach every entry the archive's directory counts
    std::string problem;
    std::vector<std::string> images;  // disk images directly inside it, sorted
};

// Walks a zip archive's entries through ImageStream and keeps the disk images that lie directly
// inside it. Entries inside sub-folders of the archive are left out (an image path names only
// entries at the top of an archive).
ArchiveListing ListArchive(const std::string& archivePath);

// The user's home folder, ending with '/'.
std::string HomeFolder();

// The folder walk of a file picker: one folder at a time, its sub-folders and files.
class FileBrowser {
public:
    // Shows `folder` (ending with '/'), nothing picked; an unreadable one shows its problem.
    void Open(const std::string& folder);
    // Into a sub-folder of the one shown; false when the path would be too long.
    bool Enter(const std::string& name);
    // To the folder above ("/" stays).
    void Up();
    // A typed path: a folder is shown (true); anything else is left to the caller as a file.
    bool Go(const std::string& path);
    const std::string& Folder() const { return folder_; }
    const FolderListing& Listing() const { return listing_; }
    // The path of a file in the folder shown, or empty when it would be too long.
    std::string PathOf(const std::string& name) const;

    size_t maxLength = 511;
    std::string selected;  // the file the user picked in the folder shown

private:
    std::string folder_ = "/";
    FolderListing listing_;
};

}  // namespace vexil
