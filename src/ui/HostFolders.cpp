#include "ui/HostFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "floppy/ImageStream.h"

namespace vexil {

namespace {

namespace fs = std::filesystem;

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

// Letter case aside first, so that "b.st" and "B.ST" sit together.
void SortNames(std::vector<std::string>& names) {
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const auto m = std::mismatch(a.begin(), a.end(), b.begin(), b.end(),
                                     [](char x, char y) { return Lower(x) == Lower(y); });
        if (m.first != a.end() && m.second != b.end()) return Lower(*m.first) < Lower(*m.second);
        if (a.size() != b.size()) return a.size() < b.size();
        return a < b;
    });
}

// The entry count of the archive's end record, or -1 when the file has none: a zip archive ends
// with it (after a comment of at most 65,535 bytes).
int64_t EndRecordEntries(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return -1;
    int64_t result = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) {
        const long size = std::ftell(f);
        const long tail = std::min<long>(size, 22 + 65535);
        std::vector<uint8_t> bytes(static_cast<size_t>(std::max<long>(tail, 0)));
        if (size >= 22 && std::fseek(f, size - tail, SEEK_SET) == 0 &&
            std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size()) {
            for (size_t i = bytes.size() - 22 + 1; i-- > 0;) {
                if (bytes[i] == 'P' && bytes[i + 1] == 'K' && bytes[i + 2] == 5 && bytes[i + 3] == 6) {
                    result = bytes[i + 10] | bytes[i + 11] << 8;
                    break;
                }
            }
        }
    }
    std::fclose(f);
    return result;
}

}  // namespace

bool JoinPath(std::string_view folder, std::string_view name, bool asFolder, size_t maxLength,
              std::string& out) {
    out.clear();
    if (name.empty() || name.find('/') != std::string_view::npos) return false;
    const size_t length = folder.size() + name.size() + (asFolder ? 1 : 0);
    if (length > maxLength) return false;
    out.reserve(length);
    out.append(folder).append(name);
    if (asFolder) out += '/';
    return true;
}

bool EndsWithNoCase(std::string_view name, std::string_view suffix) {
    return name.size() >= suffix.size() && SameNameNoCase(name.substr(name.size() - suffix.size()), suffix);
}

bool SameNameNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

bool IsDiskImageName(std::string_view name) {
    for (const char* suffix : {".msa", ".st", ".dim", ".fdi"}) {
        if (EndsWithNoCase(name, suffix) && name.size() > std::string_view(suffix).size()) return true;
    }
    return false;
}

FolderListing ListFolder(const std::string& folder) {
    FolderListing listing;
    std::error_code ec;
    fs::directory_iterator it(folder, fs::directory_options::none, ec);
    if (ec) {
        listing.problem = ec.message();
        return listing;
    }
    listing.readable = true;
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        const std::string name = it->path().filename().string();
        std::error_code typeError;
        // Links are followed, as a user expects of a folder or file shown in a folder.
        if (it->is_directory(typeError)) {
            if (!name.empty() && name[0] != '.') listing.folders.push_back(name);
        } else if (it->is_regular_file(typeError)) {
            listing.files.push_back(name);
        }
    }
    if (ec) listing.problem = ec.message();  // what was read so far is kept
    SortNames(listing.folders);
    SortNames(listing.files);
    return listing;
}

ArchiveListing ListArchive(const std::string& archivePath) {
    ArchiveListing listing;
    std::unique_ptr<ImageStream> stream = ImageStream::Open(archivePath);
    if (!stream) {
        listing.problem = "cannot be opened";
        return listing;
    }
    if (stream->EntryName() == nullptr) {
        listing.damaged = true;
        listing.problem = "not a zip archive, or damaged";
        return listing;
    }
    listing.readable = true;
    int64_t walked = 0;
    do {
        ++walked;
        const std::string_view name = stream->EntryName();
        if (name.find('/') == std::string_view::npos && name.find('\\') == std::string_view::npos &&
            IsDiskImageName(name))
            listing.images.emplace_back(name);
    } while (stream->NextEntry() == 0);
    stream->Close();
    // The walk goes from one local header to the next; the end record counts every entry, so a
    // shortfall means a damaged header, a cut-off file, or entries the walk cannot step over.
    const int64_t counted = EndRecordEntries(archivePath);
    if (counted != walked) {
        listing.damaged = true;
        listing.problem = counted < 0 ? "damaged: the archive is cut short"
                                      : "damaged: only " + std::to_string(walked) + " of " +
                                            std::to_string(counted) + " entries can be read";
    }
    SortNames(listing.images);
    return listing;
}

std::string HomeFolder() {
    std::string home = "/";
    if (const char* env = std::getenv("HOME"); env && env[0] == '/')
        home = env;
    else if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/')
        home = pw->pw_dir;
    return home.ends_with('/') ? home : home + "/";
}

void FileBrowser::Open(const std::string& folder) {
    folder_ = folder.empty() || folder.size() > maxLength ? "/" : folder;
    if (folder_.back() != '/') folder_ += '/';
    listing_ = ListFolder(folder_);
    selected.clear();
}

bool FileBrowser::Enter(const std::string& name) {
    std::string path;
    if (!JoinPath(folder_, name, true, maxLength, path)) return false;
    Open(path);
    return true;
}

void FileBrowser::Up() {
    if (folder_.size() <= 1) return;
    const size_t slash = folder_.rfind('/', folder_.size() - 2);
    Open(slash == std::string::npos ? "/" : folder_.substr(0, slash + 1));
}

bool FileBrowser::Go(const std::string& path) {
    std::error_code ec;
    if (path.empty() || path[0] != '/' || path.size() + 1 > maxLength || !fs::is_directory(path, ec))
        return false;
    Open(path);
    return true;
}

std::string FileBrowser::PathOf(const std::string& name) const {
    std::string path;
    JoinPath(folder_, name, false, maxLength, path);
    return path;
}

}  // namespace vexil
