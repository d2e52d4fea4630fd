#include "ui/DiskPage.h"

#include "floppy/DiskImage.h"
#include "machine/Machine.h"
#include "ui/HostFolders.h"

namespace vexil {

namespace {

std::string Decimal(uint32_t value) {
    return std::to_string(value);
}

std::string Kilobytes(uint64_t bytes) {
    return std::to_string(bytes / 1024) + "KB";
}

const char* FormatName(DiskFormat format) {
    switch (format) {
        case DiskFormat::Raw:
            return "Standard ST Disk Image.";
        case DiskFormat::Msa:
            return "MSA Disk Image.";
        case DiskFormat::Dim:
            return "FCopy Disk Image.";
        case DiskFormat::Fdi:
            return "FDI Image";
        case DiskFormat::Stx:
            return "STX Image";
    }
    return "";
}

}  // namespace

DiskPage::DiskPage(PageHost& app) : app_(app) {}

int DiskPage::AddNode(int parent, const std::string& name, bool archive) {
    Node node;
    node.name = name;
    node.archive = archive;
    node.parent = parent;
    if (parent < 0) {
        node.path = name;  // a root is named by its path
    } else if (!JoinPath(nodes_[static_cast<size_t>(parent)].path, name, true, kMaxConfigPath, node.path)) {
        node.problem = "The path of this folder is too long.";
        node.hasChildren = false;
    }
    nodes_.push_back(std::move(node));
    const int index = static_cast<int>(nodes_.size()) - 1;
    if (parent >= 0) nodes_[static_cast<size_t>(parent)].children.push_back(index);
    return index;
}

// Names compare whole and exactly, as the host's file system compares them.
int DiskPage::FindChild(int node, const std::string& name) const {
    for (int child : nodes_[static_cast<size_t>(node)].children) {
        if (nodes_[static_cast<size_t>(child)].name == name) return child;
    }
    return -1;
}

void DiskPage::Open() {
    ++generation_;
    revealSelection = true;
    nodes_.clear();
    roots_.clear();
    images_.clear();
    listProblem_.clear();
    selectedNode_ = selectedImage_ = -1;
    selectedPath_.clear();
    description_ = {};
    insertProblem_.clear();
    changesMessage_.clear();
    for (int drive = 0; drive < 2; ++drive) {
        std::string folder = app_.Config().Directory;
        if (!folder.empty() && folder.back() != '/') folder += '/';
        std::string stem = drive == 0 ? DriveAName() : std::string("drive-b");
        if (const size_t dot = stem.find_last_of('.'); dot != std::string::npos && dot > 0) stem.resize(dot);
        newImagePath[drive] = folder + (stem.empty() ? std::string("disk") : stem) + "-saved.st";
    }
    roots_.push_back(AddNode(-1, "/", false));
    const std::string home = HomeFolder();
    if (home != "/") roots_.push_back(AddNode(-1, home, false));

    // Re-open `Directory`: from the home root when it lies below home, else from "/".
    const std::string& directory = app_.Config().Directory;
    if (directory.empty() || directory[0] != '/') return;
    int node = roots_.front();
    size_t at = 1;
    if (roots_.size() > 1 && directory.compare(0, home.size(), home) == 0) {
        node = roots_.back();
        at = home.size();
    }
    while (at < directory.size()) {
        const size_t slash = directory.find('/', at);
        const std::string component = directory.substr(at, slash - at);
        at = slash == std::string::npos ? directory.size() : slash + 1;
        if (component.empty()) continue;
        Expand(node);
        const int child = FindChild(node, component);
        if (child < 0) return;  // the folder is gone: nothing is selected
        node = child;
    }
    Select(node);
}

void DiskPage::Expand(int index) {
    if (index < 0 || static_cast<size_t>(index) >= nodes_.size()) return;
    if (nodes_[static_cast<size_t>(index)].expanded) return;
    nodes_[static_cast<size_t>(index)].expanded = true;
    const Node node = nodes_[static_cast<size_t>(index)];  // AddNode grows the vector
    if (node.archive || node.path.empty()) {
        nodes_[static_cast<size_t>(index)].hasChildren = false;  // archives hold no folders here
        return;
    }
    const FolderListing listing = ListFolder(node.path);
    if (!listing.readable) {
        nodes_[static_cast<size_t>(index)].problem = "This folder cannot be read (" + listing.problem + ").";
        nodes_[static_cast<size_t>(index)].hasChildren = false;
        return;
    }
    for (const std::string& folder : listing.folders) AddNode(index, folder, false);
    for (const std::string& file : listing.files) {
        if (EndsWithNoCase(file, ".zip")) AddNode(index, file, true);
    }
    nodes_[static_cast<size_t>(index)].hasChildren = !nodes_[static_cast<size_t>(index)].children.empty();
}

void DiskPage::Select(int index) {
    if (index < 0 || static_cast<size_t>(index) >= nodes_.size()) return;
    selectedNode_ = index;
    images_.clear();
    selectedImage_ = -1;
    selectedPath_.clear();
    description_ = {};
    const Node& node = nodes_[static_cast<size_t>(index)];
    if (node.path.empty()) {
        listProblem_ = node.problem;
        return;
    }
    listProblem_.clear();
    app_.Config().Directory = node.path;
    if (node.archive) {
        ArchiveListing listing = ListArchive(node.path.substr(0, node.path.size() - 1));
        images_ = std::move(listing.images);
        if (!listing.readable || listing.damaged)
            listProblem_ = "This archive cannot be read whole (" + listing.problem + ").";
        return;
    }
    const FolderListing listing = ListFolder(node.path);
    if (!listing.readable) {
        listProblem_ = "This folder cannot be read (" + listing.problem + ").";
        return;
    }
    for (const std::string& file : listing.files) {
        if (IsDiskImageName(file)) images_.push_back(file);
    }
}

void DiskPage::SelectImage(int index) {
    if (index < 0 || static_cast<size_t>(index) >= images_.size() || selectedNode_ < 0) return;
    selectedImage_ = index;
    const std::string& name = images_[static_cast<size_t>(index)];
    if (!JoinPath(nodes_[static_cast<size_t>(selectedNode_)].path, name, false, kMaxConfigPath,
                  selectedPath_)) {
        description_ = {};
        description_.fileName = name;
        description_.fileFormat = "The path of this image is too long.";
        return;
    }
    Describe(name);
    if (!description_.tracks.empty() && AutoInsert()) Insert();
}

void DiskPage::Describe(const std::string& name) {
    description_ = {};
    description_.fileName = name;
    DiskGeometry geometry;
    if (!DetectDiskFormat(selectedPath_, &geometry)) {
        description_.fileFormat = "Unknown image format.";
        return;
    }
    description_.fileSize = Kilobytes(geometry.streamSize);
    description_.fileFormat = FormatName(geometry.format);
    description_.tracks = Decimal(geometry.tracks);
    description_.sectors = Decimal(geometry.sectorsPerTrack);
    description_.sides = Decimal(geometry.sides);
    if (geometry.format != DiskFormat::Fdi)
        description_.capacity =
            Kilobytes(uint64_t{geometry.tracks} * geometry.sides * geometry.sectorsPerTrack * 512);
}

// A refused image leaves the drive empty and `DriveA` cleared, and the page says why.
void DiskPage::Insert() {
    if (selectedPath_.empty()) return;
    const InsertResult result = app_.InsertDiskA(selectedPath_);
    insertProblem_ = result ? std::string() : result.message;
}

void DiskPage::InsertRecent(size_t index) {
    if (index >= RecentImages().size()) return;
    const std::string path = RecentImages()[index];  // the list changes as it goes in
    const InsertResult result = app_.InsertDiskA(path);
    insertProblem_ = result ? std::string() : result.message;
}

void DiskPage::Eject() {
    app_.EjectDiskA();
    insertProblem_.clear();
}

// A disk on its way in (the drive shows itself empty for a while first) counts as held.
bool DiskPage::DriveAHoldsImage() const {
    return app_.CurrentMachine() != nullptr && !app_.DriveAPath().empty();
}

std::string DiskPage::DriveAName() const {
    if (!DriveAHoldsImage()) return std::string();
    const std::string& path = app_.DriveAPath();
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void DiskPage::UseFolderAsDriveC() {
    // The tree's paths end with '/'; the drive's folder is named without it.
    std::string folder = app_.Config().Directory;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    app_.Config().FolderDrive = folder;
}

void DiskPage::RemoveDriveC() {
    app_.Config().FolderDrive.clear();
}

const std::string& DiskPage::DriveCFolder() const {
    return app_.Config().FolderDrive;
}

bool DiskPage::AutoInsert() const {
    return app_.Config().AutoInsertDiskA != 0;
}

void DiskPage::SetAutoInsert(bool on) {
    app_.Config().AutoInsertDiskA = on ? 1 : 0;
}

void DiskPage::WarmReset() {
    app_.ResetMachine(false);
}

void DiskPage::ColdReset() {
    app_.ResetMachine(true);
}

std::string DiskPage::ChangedText(int drive) const {
    Machine* machine = app_.CurrentMachine();
    if (machine == nullptr || !machine->Drive(drive).Inserted()) return {};
    const uint32_t changed = machine->Drive(drive).ChangedSectors();
    if (!machine->Drive(drive).Changed()) return {};
    return "changed (" + std::to_string(changed) + (changed == 1 ? " sector)" : " sectors)");
}

void DiskPage::SaveAsNewImage(int drive) {
    Machine* machine = app_.CurrentMachine();
    if (machine == nullptr || !machine->Drive(drive).Inserted()) {
        changesMessage_ = "No disk in the drive.";
        return;
    }
    const std::string& path = newImagePath[drive & 1];
    if (path.size() > kMaxConfigPath) {
        changesMessage_ = "The path is too long.";
        return;
    }
    std::string error;
    changesMessage_ = machine->Drive(drive).SaveAsImage(path, error) ? "Saved as " + path + "." : error;
}

void DiskPage::ForgetChanges(int drive) {
    Machine* machine = app_.CurrentMachine();
    if (machine == nullptr || !machine->Drive(drive).Inserted()) return;
    machine->Drive(drive).ForgetChanges();
    changesMessage_ = std::string("Drive ") + (drive ? "B" : "A") + ": changes forgotten.";
}

}  // namespace vexil
