#include "core/SaveState.h"

#include <zlib.h>

#include <algorithm>

#include "core/Crc32.h"

namespace vexil {

namespace {
constexpr size_t kTrailerBytes = 4;

void PutU32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    state_detail::StoreLittle(out.data() + at, value);
}
uint32_t GetU32(const uint8_t* at) {
    return state_detail::LoadLittle<uint32_t>(at);
}
uint16_t GetU16(const uint8_t* at) {
    return state_detail::LoadLittle<uint16_t>(at);
}

// What the header says, once it has been checked against the file.
struct Header {
    StatePacking packing = StatePacking::kStored;
    uint32_t unpacked = 0;
    size_t pictureAt = 0, width = 0, height = 0;
    size_t packedAt = 0, packed = 0;
};

bool CheckHeader(const std::vector<uint8_t>& file, Header& h, std::string& error) {
    if (file.size() < 12 || std::memcmp(file.data(), kStateMagic, 8) != 0) {
        error = "not a Vexil save state";
        return false;
    }
    const uint32_t version = GetU32(file.data() + 8);
    if (version != kStateVersion) {
        error = "a save state of format version " + std::to_string(version) +
                ", this program reads version " + std::to_string(kStateVersion);
        return false;
    }
    if (file.size() < kStateHeaderBytes + kTrailerBytes) {
        error = "the save state is cut short or has bytes after its end";
        return false;
    }
    const uint32_t packing = GetU32(file.data() + 12);
    h.unpacked = GetU32(file.data() + 16);
    h.packed = GetU32(file.data() + 20);
    h.width = GetU16(file.data() + 24);
    h.height = GetU16(file.data() + 26);
    h.pictureAt = kStateHeaderBytes;
    h.packedAt = h.pictureAt + h.width * h.height * 2;
    if (packing > 1 || h.width > StatePicture::kMostWidth || h.height > StatePicture::kMostHeight ||
        (h.width == 0) != (h.height == 0) || (packing == 0 && h.packed != h.unpacked)) {
        error = "the save state's header is damaged";
        return false;
    }
    h.packing = static_cast<StatePacking>(packing);
    if (file.size() - kTrailerBytes < h.packedAt || file.size() - kTrailerBytes - h.packedAt != h.packed) {
        error = "the save state is cut short or has bytes after its end";
        return false;
    }
    if (Crc32(file.data(), file.size() - kTrailerBytes) !=
        GetU32(file.data() + file.size() - kTrailerBytes)) {
        error = "the save state is damaged (checksum mismatch)";
        return false;
    }
    return true;
}
}  // namespace

StatePicture ShrinkPicture(const uint16_t* pixels, int width, int height, int pitch, int factor) {
    StatePicture picture;
    if (pixels == nullptr || factor < 1 || width < factor || height < factor) return picture;
    picture.width = static_cast<uint16_t>(std::min(width / factor, int{StatePicture::kMostWidth}));
    picture.height = static_cast<uint16_t>(std::min(height / factor, int{StatePicture::kMostHeight}));
    picture.pixels.resize(size_t{picture.width} * picture.height);
    const unsigned count = static_cast<unsigned>(factor * factor);
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            unsigned r = 0, g = 0, b = 0;
            for (int dy = 0; dy < factor; ++dy) {
                const uint16_t* row = pixels + static_cast<size_t>(y * factor + dy) * pitch + x * factor;
                for (int dx = 0; dx < factor; ++dx)
                    r += row[dx] >> 11, g += row[dx] >> 5 & 63, b += row[dx] & 31;
            }
            picture.pixels[static_cast<size_t>(y) * picture.width + x] =
                static_cast<uint16_t>((r / count) << 11 | (g / count) << 5 | b / count);
        }
    }
    return picture;
}

void StateWriter::BeginSection(const char (&tag)[5]) {
    CloseSection();
    sectionStart_ = payload_.size();
    payload_.insert(payload_.end(), tag, tag + 4);
    payload_.resize(payload_.size() + 4);
    inSection_ = true;
}

void StateWriter::CloseSection() {
    if (!inSection_) return;
    PutU32(payload_, sectionStart_ + 4, static_cast<uint32_t>(payload_.size() - sectionStart_ - 8));
    inSection_ = false;
}

void StateWriter::PutBytes(const void* data, size_t length) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    payload_.insert(payload_.end(), bytes, bytes + length);
}

std::vector<uint8_t> StateWriter::Finish(StatePacking packing, const StatePicture* picture) {
    CloseSection();
    const bool hasPicture = picture != nullptr && picture->width != 0 && picture->height != 0 &&
                            picture->width <= StatePicture::kMostWidth &&
                            picture->height <= StatePicture::kMostHeight &&
                            picture->pixels.size() == size_t{picture->width} * picture->height;
    const size_t pictureBytes = hasPicture ? picture->pixels.size() * 2 : 0;
    const size_t packedAt = kStateHeaderBytes + pictureBytes;
    std::vector<uint8_t> file(packedAt);
    std::memcpy(file.data(), kStateMagic, 8);
    PutU32(file, 8, kStateVersion);
    PutU32(file, 16, static_cast<uint32_t>(payload_.size()));
    if (hasPicture) {
        state_detail::StoreLittle(file.data() + 24, picture->width);
        state_detail::StoreLittle(file.data() + 26, picture->height);
        for (size_t i = 0; i < picture->pixels.size(); ++i)
            state_detail::StoreLittle(file.data() + kStateHeaderBytes + 2 * i, picture->pixels[i]);
    }
    uLongf packed = 0;
    if (packing == StatePacking::kZlib) {
        packed = compressBound(static_cast<uLong>(payload_.size()));
        file.resize(packedAt + packed);
        if (compress2(file.data() + packedAt, &packed, payload_.data(), static_cast<uLong>(payload_.size()),
                      Z_BEST_SPEED) != Z_OK)
            packing = StatePacking::kStored;  // only when memory runs out
    }
    if (packing == StatePacking::kStored) {
        packed = static_cast<uLongf>(payload_.size());
        file.resize(packedAt + packed);
        std::memcpy(file.data() + packedAt, payload_.data(), payload_.size());
    }
    PutU32(file, 12, static_cast<uint32_t>(packing));
    PutU32(file, 20, static_cast<uint32_t>(packed));
    file.resize(packedAt + packed + kTrailerBytes);
    PutU32(file, file.size() - kTrailerBytes, Crc32(file.data(), file.size() - kTrailerBytes));
    return file;
}

bool UnpackState(const std::vector<uint8_t>& file, size_t largest, std::vector<uint8_t>& sections,
                 std::string& error) {
    Header h;
    if (!CheckHeader(file, h, error)) return false;
    if (h.unpacked > largest) {
        error = "the save state is larger than any this machine writes";
        return false;
    }
    const uint8_t* packed = file.data() + h.packedAt;
    if (h.packing == StatePacking::kStored) {
        sections.assign(packed, packed + h.packed);
        return true;
    }
    sections.resize(h.unpacked);
    uLongf length = h.unpacked;
    uLong used = static_cast<uLong>(h.packed);
    // The output is exactly the length the header gives: a stream that would make more, or
    // less, or has bytes after its end, is damaged.
    if (uncompress2(sections.data(), &length, packed, &used) != Z_OK || length != h.unpacked ||
        used != h.packed) {
        sections.clear();
        error = "the save state is damaged (its compressed data are not whole)";
        return false;
    }
    return true;
}

size_t MostStateFileBytes(size_t largest) {
    return kStateHeaderBytes + 2u * StatePicture::kMostWidth * StatePicture::kMostHeight +
           compressBound(static_cast<uLong>(largest)) + kTrailerBytes;
}

bool ReadStatePicture(const std::vector<uint8_t>& file, StatePicture& picture, std::string& error) {
    Header h;
    if (!CheckHeader(file, h, error)) return false;
    picture.width = static_cast<uint16_t>(h.width);
    picture.height = static_cast<uint16_t>(h.height);
    picture.pixels.resize(h.width * h.height);
    for (size_t i = 0; i < picture.pixels.size(); ++i)
        picture.pixels[i] = GetU16(file.data() + h.pictureAt + 2 * i);
    return true;
}

bool StateReader::Open(const std::vector<uint8_t>& file, std::string& error, size_t largest) {
    if (!UnpackState(file, largest, unpacked_, error)) {
        OpenSections(nullptr, 0);
        return false;
    }
    OpenSections(unpacked_.data(), unpacked_.size());
    return true;
}

bool StateReader::BeginSection(const char (&tag)[5]) {
    failed_ = failed_ || data_ == nullptr || end_ - pos_ < 8 || std::memcmp(data_ + pos_, tag, 4) != 0 ||
              GetU32(data_ + pos_ + 4) > end_ - pos_ - 8;
    if (failed_) return false;
    const uint32_t length = GetU32(data_ + pos_ + 4);
    pos_ += 8;
    sectionEnd_ = pos_ + length;
    return true;
}

bool StateReader::GetBytes(void* data, size_t length) {
    const uint8_t* view = View(length);
    if (view == nullptr) return false;
    std::memcpy(data, view, length);
    return true;
}

const uint8_t* StateReader::View(size_t length) {
    if (failed_ || data_ == nullptr || length > sectionEnd_ - pos_) {
        failed_ = true;
        return nullptr;
    }
    const uint8_t* view = data_ + pos_;
    pos_ += length;
    return view;
}

}  // namespace vexil
