#include "floppy/ImageStream.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <new>

#include "core/Bytes.h"
#include "core/Crc32.h"
#include "floppy/Inflate.h"

namespace vexil {
namespace {

constexpr uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr size_t kLocalHeaderSize = 30;
constexpr uint16_t kEncrypted = 1;
constexpr uint16_t kStored = 0;
constexpr uint16_t kDeflated = 8;
constexpr size_t kInputSize = 8192;
constexpr size_t kPageSize = 32768;
constexpr size_t kMaxPages = 2048;  // 64 MiB
// Above this an entry is inflated into a temporary file rather than memory pages.
constexpr uint64_t kMemoryStoreLimit = 262143;

bool SeekFile(std::FILE* f, uint64_t offset) {
    return offset <= static_cast<uint64_t>(INT64_MAX) &&
           std::fseek(f, static_cast<long>(offset), SEEK_SET) == 0;
}

}  // namespace

std::unique_ptr<ImageStream> ImageStream::Open(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return nullptr;
    std::unique_ptr<ImageStream> stream(new (std::nothrow) ImageStream);
    if (!stream) return nullptr;
    stream->input_.reset(new (std::nothrow) uint8_t[kInputSize]);
    if (!stream->input_) return nullptr;
    stream->file_ = std::fopen(path.c_str(), "rb");
    if (!stream->file_) return nullptr;
    stream->ReadEntry(0);
    return stream;
}

ImageStream::~ImageStream() {
    Close();
}

void ImageStream::ReadEntry(uint64_t headerOffset) {
    error_ = false;
    position_ = available_ = consumed_ = crcCovered_ = 0;
    runningCrc_ = kCrc32Start;
    headerOffset_ = headerOffset;
    hasName_ = false;
    name_.clear();
    store_ = Store::kFile;

    uint8_t h[kLocalHeaderSize];
    const bool present = SeekFile(file_, headerOffset) && std::fread(h, 1, sizeof h, file_) == sizeof h &&
                         Le32(h) == kLocalHeaderSignature;
    if (!present) {
        if (headerOffset > 0) {
            error_ = true;
            atEnd_ = true;
            size_ = compressedSize_ = 0;
            return;
        }
        // Not an archive: the whole file is the stream.
        inArchive_ = false;
        dataOffset_ = 0;
        method_ = kStored;
        flags_ = 0;
        if (std::fseek(file_, 0, SEEK_END) != 0 || std::ftell(file_) < 0) {
            error_ = true;
            size_ = 0;
        } else {
            size_ = static_cast<uint64_t>(std::ftell(file_));
        }
        compressedSize_ = available_ = size_;
        return;
    }

    inArchive_ = true;
    flags_ = Le16(h + 6);
    method_ = Le16(h + 8);
    crc_ = Le32(h + 14);
    compressedSize_ = Le32(h + 18);
    size_ = Le32(h + 22);
    const uint16_t nameLength = Le16(h + 26);
    const uint16_t extraLength = Le16(h + 28);
    name_.resize(nameLength);
    if (std::fread(name_.data(), 1, nameLength, file_) == nameLength) {
        hasName_ = true;
    } else {
        error_ = true;
        name_.clear();
    }
    dataOffset_ = headerOffset + kLocalHeaderSize + nameLength + extraLength;

    if ((flags_ & kEncrypted) == 0 && method_ == kDeflated) {
        if (size_ > kMemoryStoreLimit) {
            temporary_ = std::tmpfile();
            if (temporary_) store_ = Store::kTemporaryFile;
        }
        if (store_ == Store::kFile) store_ = Store::kMemory;
        inflater_ =
            Inflater::Create([this](const uint8_t* data, size_t length) { return Output(data, length); });
        if (!inflater_) error_ = true;
    } else if ((flags_ & kEncrypted) == 0 && method_ == kStored && compressedSize_ == size_) {
        available_ = size_;
    } else {
        error_ = true;  // encrypted, an unknown method, or a stored entry whose sizes disagree
    }
}

void ImageStream::CloseEntry() {
    hasName_ = false;
    name_.clear();
    if (inflater_) {
        // An entry read to its end is also decoded to the end of its Deflate data, so that a
        // stream that is cut short or damaged after the last byte does not go unnoticed.
        if (available_ == size_) {
            while (!inflater_->Finished() && FeedMore()) {
            }
        }
        // Unfinished, damaged, or finished short of the size the header gives.
        if (inflater_->End() != 0 || available_ != size_) error_ = true;
        inflater_.reset();
    }
    if (inArchive_ && crcCovered_ == size_ && ~runningCrc_ != crc_) error_ = true;
    if (temporary_) {
        std::fclose(temporary_);
        temporary_ = nullptr;
    }
    pages_.clear();
}

int ImageStream::Close() {
    if (!file_) return error_ ? -1 : 0;
    CloseEntry();
    std::fclose(file_);
    file_ = nullptr;
    input_.reset();
    return error_ ? -1 : 0;
}

int ImageStream::NextEntry() {
    if (!file_) return -1;
    CloseEntry();
    if (!inArchive_ || atEnd_) return -1;
    ReadEntry(dataOffset_ + compressedSize_);
    return hasName_ ? 0 : -1;
}

// Feeds the next piece of compressed data to the inflater. False when none is left, the file
// cannot be read or the data is damaged.
bool ImageStream::FeedMore() {
    if (inflater_->Failed() || consumed_ >= compressedSize_) return false;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kInputSize, compressedSize_ - consumed_));
    if (!SeekFile(file_, dataOffset_ + consumed_) || std::fread(input_.get(), 1, n, file_) != n) return false;
    consumed_ += n;
    return inflater_->Feed(input_.get(), n) == 0;
}

bool ImageStream::MakeAvailable(uint64_t end) {
    if (end > size_) return false;
    if (!inflater_) return end <= available_;
    // A piece that ends in a Deflate error may still have brought enough bytes.
    while (available_ < end) {
        if (!FeedMore()) return available_ >= end;
    }
    return true;
}

int ImageStream::Output(const uint8_t* data, size_t length) {
    if (length > size_ - available_) return 1;  // more than the header promised
    if (store_ == Store::kTemporaryFile) {
        if (!SeekFile(temporary_, available_) || std::fwrite(data, 1, length, temporary_) != length) return 1;
    } else {
        uint64_t at = available_;
        size_t done = 0;
        while (done < length) {
            const size_t page = static_cast<size_t>(at / kPageSize);
            const size_t offset = static_cast<size_t>(at % kPageSize);
            if (page >= kMaxPages) return 1;
            if (page >= pages_.size()) pages_.resize(page + 1);
            if (!pages_[page]) {
                pages_[page].reset(new (std::nothrow) uint8_t[kPageSize]);
                if (!pages_[page]) return 1;
            }
            const size_t n = std::min(length - done, kPageSize - offset);
            std::memcpy(pages_[page].get() + offset, data + done, n);
            done += n;
            at += n;
        }
    }
    runningCrc_ = Crc32Update(runningCrc_, data, length);
    crcCovered_ += length;
    available_ += length;
    return 0;
}

size_t ImageStream::CopyOut(uint8_t* to, uint64_t from, size_t length) {
    switch (store_) {
        case Store::kFile:
            if (!SeekFile(file_, dataOffset_ + from)) return 0;
            return std::fread(to, 1, length, file_);
        case Store::kTemporaryFile:
            if (!SeekFile(temporary_, from)) return 0;
            return std::fread(to, 1, length, temporary_);
        case Store::kMemory:
            break;
    }
    size_t done = 0;
    while (done < length) {
        const size_t page = static_cast<size_t>(from / kPageSize);
        const size_t offset = static_cast<size_t>(from % kPageSize);
        if (page >= pages_.size() || !pages_[page]) break;
        const size_t n = std::min(length - done, kPageSize - offset);
        std::memcpy(to + done, pages_[page].get() + offset, n);
        done += n;
        from += n;
    }
    return done;
}

size_t ImageStream::Read(void* buffer, size_t elementSize, size_t count) {
    if (!file_ || error_ || elementSize == 0 || count == 0) return 0;
    const uint64_t left = size_ - position_;
    const uint64_t elements = std::min<uint64_t>(count, left / elementSize);
    uint64_t bytes = elements * elementSize;
    if (!MakeAvailable(position_ + bytes)) {
        // A damaged Deflate stream: the bytes before the fault are still good.
        bytes = std::min(bytes, available_ > position_ ? available_ - position_ : 0);
        bytes -= bytes % elementSize;
    }
    uint8_t* to = static_cast<uint8_t*>(buffer);
    const size_t got = CopyOut(to, position_, static_cast<size_t>(bytes));
    if (inflater_ == nullptr && inArchive_ && position_ <= crcCovered_ && position_ + got > crcCovered_) {
        // A stored entry is checked as it is read from start to end.
        const uint64_t skip = crcCovered_ - position_;
        runningCrc_ = Crc32Update(runningCrc_, to + skip, static_cast<size_t>(got - skip));
        crcCovered_ = position_ + got;
    }
    position_ += got;
    return got / elementSize;
}

int ImageStream::Seek(int64_t offset, int origin) {
    if (!file_ || error_) return -1;
    int64_t base = 0;
    if (origin == 1) {
        base = static_cast<int64_t>(position_);
    } else if (origin == 2) {
        base = static_cast<int64_t>(size_);
    } else if (origin != 0) {
        return -1;
    }
    if ((offset > 0 && base > INT64_MAX - offset)) return -1;
    const int64_t target = base + offset;
    if (target < 0 || static_cast<uint64_t>(target) > size_) return -1;
    position_ = static_cast<uint64_t>(target);
    return 0;
}

int64_t ImageStream::Tell() const {
    if (!file_ || error_) return -1;
    return static_cast<int64_t>(position_);
}

namespace {

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<ImageStream> OpenImageStream(const std::string& path) {
    const size_t cut = path.find_last_of("/\\");
    if (cut != std::string::npos && cut >= 4 && EqualNoCase(path.substr(cut - 4, 4), ".zip")) {
        const std::string entry = path.substr(cut + 1);
        std::unique_ptr<ImageStream> archive = ImageStream::Open(path.substr(0, cut));
        if (!archive) return nullptr;
        do {
            const char* name = archive->EntryName();
            if (name && EqualNoCase(name, entry)) return archive;
        } while (archive->NextEntry() == 0);
        archive->Close();
        return nullptr;
    }
    return ImageStream::Open(path);
}

}  // namespace vexil
