#include "core/SaveState.h"

#include "core/Crc32.h"

namespace vexil {

namespace {
constexpr size_t kHeaderBytes = 16;
constexpr size_t kTrailerBytes = 4;

void PutU32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    state_detail::StoreLittle(out.data() + at, value);
}
uint32_t GetU32(const uint8_t* at) {
    return state_detail::LoadLittle<uint32_t>(at);
}
}  // namespace

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

std::vector<uint8_t> StateWriter::Finish() {
    CloseSection();
    std::vector<uint8_t> file(kHeaderBytes + payload_.size() + kTrailerBytes);
    std::memcpy(file.data(), kStateMagic, 8);
    PutU32(file, 8, kStateVersion);
    PutU32(file, 12, static_cast<uint32_t>(payload_.size()));
    std::memcpy(file.data() + kHeaderBytes, payload_.data(), payload_.size());
    PutU32(file, file.size() - kTrailerBytes, Crc32(file.data(), file.size() - kTrailerBytes));
    return file;
}

bool StateReader::Open(const std::vector<uint8_t>& file, std::string& error) {
    if (file.size() < kHeaderBytes + kTrailerBytes || std::memcmp(file.data(), kStateMagic, 8) != 0) {
        error = "not a Vexil save state";
        return false;
    }
    const uint32_t version = GetU32(file.data() + 8);
    if (version != kStateVersion) {
        error = "a save state of format version " + std::to_string(version) +
                ", this program reads version " + std::to_string(kStateVersion);
        return false;
    }
    if (GetU32(file.data() + 12) != file.size() - kHeaderBytes - kTrailerBytes) {
        error = "the save state is cut short or has bytes after its end";
        return false;
    }
    if (Crc32(file.data(), file.size() - kTrailerBytes) !=
        GetU32(file.data() + file.size() - kTrailerBytes)) {
        error = "the save state is damaged (checksum mismatch)";
        return false;
    }
    data_ = file.data();
    failed_ = false;
    pos_ = sectionEnd_ = kHeaderBytes;
    end_ = file.size() - kTrailerBytes;
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
