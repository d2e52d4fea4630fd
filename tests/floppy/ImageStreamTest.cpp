#include <gtest/gtest.h>

#include "core/Crc32.h"
#include "floppy/FloppyTestSupport.h"
#include "floppy/ImageStream.h"

namespace vexil {
namespace {

using test::Bytes;

Bytes ReadAll(ImageStream& s) {
    Bytes b(static_cast<size_t>(s.Size()));
    b.resize(s.Read(b.data(), 1, b.size()));
    return b;
}

TEST(ImageStream, PlainFileIsOneNamelessStream) {
    const std::string path = test::ScratchPath("plain.bin");
    test::WriteFile(path, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    auto s = ImageStream::Open(path);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->EntryName(), nullptr);
    EXPECT_EQ(s->Size(), 10u);
    uint8_t pair[16];
    EXPECT_EQ(s->Read(pair, 4, 3), 2u);  // whole elements only, cut at the end
    EXPECT_EQ(s->Tell(), 8);
    EXPECT_EQ(s->Read(pair, 2, 1), 1u);
    EXPECT_EQ(pair[0], 9);
    EXPECT_EQ(s->Read(pair, 1, 1), 0u);
    EXPECT_EQ(s->NextEntry(), -1);
    EXPECT_EQ(s->Close(), 0);
    EXPECT_FALSE(ImageStream::Open(test::ScratchPath("missing.bin")));
    EXPECT_FALSE(ImageStream::Open(test::ScratchDir().string()));  // a folder is no image
}

// An archive with a stored disk, a small and a large deflated entry: the walk finds them in
// order, each reads back unchanged from the right store, and the walk ends after the last.
TEST(ImageStream, WalksEntriesOfEveryKind) {
    const std::vector<test::ZipMember> members = {
        {"STORED.ST", test::RandomBytes(368640, 20), true},
        {"small.msa", test::TextBytes(100000, 21), false},
        {"Large.St", test::TextBytes(400000, 22), false},
    };
    const std::string zip = test::MakeZip("walk.zip", members);
    auto s = ImageStream::Open(zip);
    ASSERT_TRUE(s);
    const ImageStream::Store stores[] = {ImageStream::Store::kFile, ImageStream::Store::kMemory,
                                         ImageStream::Store::kTemporaryFile};
    for (size_t i = 0; i < members.size(); ++i) {
        SCOPED_TRACE(i);
        if (i > 0) {
            ASSERT_EQ(s->NextEntry(), 0);
        }
        ASSERT_NE(s->EntryName(), nullptr);
        EXPECT_EQ(std::string(s->EntryName()), members[i].name);
        EXPECT_EQ(s->Size(), members[i].data.size());
        EXPECT_TRUE(ReadAll(*s) == members[i].data);
        EXPECT_EQ(s->OutputStore(), stores[i]);
    }
    EXPECT_EQ(s->NextEntry(), -1);
    EXPECT_EQ(s->EntryName(), nullptr);
    EXPECT_EQ(s->NextEntry(), -1);
}

TEST(ImageStream, SeeksWithinTheEntryOnly) {
    const Bytes data = test::TextBytes(50000, 23);
    const std::string zip = test::MakeZip("seek.zip", {{"a.st", data, false}});
    auto s = ImageStream::Open(zip);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->Seek(0, 2), 0);
    EXPECT_EQ(s->Tell(), 50000);
    EXPECT_EQ(s->Seek(1, 1), -1);
    EXPECT_EQ(s->Seek(-1, 0), -1);
    EXPECT_EQ(s->Seek(0, 3), -1);
    EXPECT_EQ(s->Seek(-100, 2), 0);
    uint8_t tail[100];
    EXPECT_EQ(s->Read(tail, 1, 200), 100u);
    EXPECT_TRUE(std::equal(tail, tail + 100, data.end() - 100));
    EXPECT_EQ(s->Close(), 0);
}

// Once inflated, an entry is read back from the store: spoiling the archive's compressed bytes
// on disk afterwards changes nothing.
TEST(ImageStream, SeekingBackDoesNotInflateAgain) {
    const Bytes data = test::TextBytes(200000, 24);
    const std::string zip = test::MakeZip("again.zip", {{"a.st", data, false}});
    auto s = ImageStream::Open(zip);
    ASSERT_TRUE(s);
    EXPECT_TRUE(ReadAll(*s) == data);
    Bytes spoiled = test::ReadFile(zip);
    std::fill(spoiled.begin() + 40, spoiled.end(), 0);
    test::WriteFile(zip, spoiled);
    ASSERT_EQ(s->Seek(0, 0), 0);
    EXPECT_TRUE(ReadAll(*s) == data);
    EXPECT_EQ(s->Close(), 0);
}

TEST(ImageStream, ZipPathsIgnoreCaseAndReachOnlyTopLevelEntries) {
    const Bytes data = test::RandomBytes(1000, 25);
    const std::string zip =
        test::MakeZip("Paths.zip", {{"GAME.ST", data, false}, {"sub/INNER.ST", data, true}});
    const std::string upper = test::ScratchPath("PATHS.ZIP");
    std::filesystem::copy_file(zip, upper, std::filesystem::copy_options::overwrite_existing);
    for (const std::string& path : {upper + "/game.st", zip + "/Game.St", zip + "\\GAME.ST"}) {
        auto s = OpenImageStream(path);
        ASSERT_TRUE(s) << path;
        EXPECT_STREQ(s->EntryName(), "GAME.ST");
        EXPECT_TRUE(ReadAll(*s) == data);
    }
    EXPECT_FALSE(OpenImageStream(zip + "/INNER.ST"));
    EXPECT_FALSE(OpenImageStream(zip + "/NONE.ST"));
    EXPECT_FALSE(OpenImageStream(test::ScratchPath("none.zip") + "/GAME.ST"));
}

// The four bytes of the local header's CRC-32 lie at offset 14.
void SpoilHeaderCrc(const std::string& zip) {
    Bytes b = test::ReadFile(zip);
    b[14] ^= 0x01;
    test::WriteFile(zip, b);
}

// A damaged download: the entry reads, but the close reports the CRC-32 mismatch.
TEST(ImageStream, CrcMismatchIsReportedAtClose) {
    for (bool store : {true, false}) {
        SCOPED_TRACE(store);
        const Bytes data = test::TextBytes(70000, 26);
        const std::string zip = test::MakeZip(store ? "crc0.zip" : "crc8.zip", {{"a.st", data, store}});
        {
            auto good = ImageStream::Open(zip);
            EXPECT_TRUE(ReadAll(*good) == data);
            EXPECT_EQ(good->Close(), 0);
        }
        SpoilHeaderCrc(zip);
        auto s = ImageStream::Open(zip);
        ASSERT_TRUE(s);
        EXPECT_TRUE(ReadAll(*s) == data);
        EXPECT_EQ(s->Close(), -1);
    }
}

TEST(ImageStream, DamagedDeflateDataIsReportedAtClose) {
    const Bytes data = test::TextBytes(70000, 27);
    const std::string zip = test::MakeZip("damaged.zip", {{"a.st", data, false}});
    Bytes b = test::ReadFile(zip);
    for (size_t i = 200; i < 260; ++i) b[i] = static_cast<uint8_t>(b[i] * 7 + 1);
    test::WriteFile(zip, b);
    auto s = ImageStream::Open(zip);
    ASSERT_TRUE(s);
    Bytes out(data.size());
    const size_t got = s->Read(out.data(), 1, out.size());
    if (got == data.size()) {
        EXPECT_FALSE(out == data);
    }
    EXPECT_EQ(s->Close(), -1);
}

// Archives cut anywhere: in the central directory the entries stay good; inside an entry, it
// reads short and its close fails; in a header, the walk ends.
TEST(ImageStream, TruncatedArchives) {
    const Bytes first = test::TextBytes(30000, 28), second = test::RandomBytes(5000, 29);
    const std::string zip = test::MakeZip("cut.zip", {{"ONE.ST", first, false}, {"TWO.ST", second, true}});
    const Bytes whole = test::ReadFile(zip);
    // The central directory starts after the second entry's data: 30 + 6 bytes of header.
    size_t directory = 0;
    for (size_t i = 0; i + 4 <= whole.size(); ++i) {
        if (whole[i] == 'P' && whole[i + 1] == 'K' && whole[i + 2] == 1 && whole[i + 3] == 2) {
            directory = i;
            break;
        }
    }
    ASSERT_GT(directory, 0u);
    const std::string cut = test::ScratchPath("cut-short.zip");
    for (size_t length : {directory + 20, directory + 1, directory}) {
        test::WriteFile(cut, Bytes(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(length)));
        auto s = OpenImageStream(cut + "/two.st");
        ASSERT_TRUE(s) << length;
        EXPECT_TRUE(ReadAll(*s) == second);
        EXPECT_EQ(s->Close(), 0);
    }
    for (size_t length = 0; length < directory; length += 97) {
        test::WriteFile(cut, Bytes(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(length)));
        auto s = ImageStream::Open(cut);
        if (!s) continue;
        do {
            Bytes out(static_cast<size_t>(std::min<uint64_t>(s->Size(), 1 << 20)));
            s->Read(out.data(), 1, out.size());
        } while (s->NextEntry() == 0);
        s->Close();
    }
}

struct HostileEntry {
    const char* name;
    Bytes archive;
};

// Hand-made headers: encrypted, an unknown method, sizes that lie, a stored entry whose
// sizes disagree. Each opens with its error flag set or reads short; none reads beyond the
// file, and the walk always ends.
TEST(ImageStream, HostileHeaders) {
    const Bytes payload = test::TextBytes(1000, 30);
    const uint32_t crc = Crc32(payload.data(), payload.size());
    const test::Gzipped gz = test::Gzip(payload);
    const std::vector<HostileEntry> cases = {
        {"encrypted", test::LocalEntry("A.ST", payload, 0, crc, 1000, 1)},
        {"method 12", test::LocalEntry("A.ST", payload, 12, crc, 1000)},
        {"stored sizes differ", test::LocalEntry("A.ST", payload, 0, crc, 999)},
        {"claims 4 GB", test::LocalEntry("A.ST", gz.deflate, 8, crc, 0xFFFFFFFF)},
        {"claims less", test::LocalEntry("A.ST", gz.deflate, 8, crc, 500)},
    };
    for (const HostileEntry& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = test::ScratchPath("hostile.zip");
        Bytes archive = c.archive;
        archive.insert(archive.end(), c.archive.begin(), c.archive.end());  // and a second copy
        test::WriteFile(path, archive);
        auto s = ImageStream::Open(path);
        ASSERT_TRUE(s);
        Bytes out(2000);
        EXPECT_LE(s->Read(out.data(), 1, out.size()), 1000u);
        EXPECT_EQ(s->Close(), -1);
        s = ImageStream::Open(path);
        int entries = 1;
        while (s->NextEntry() == 0) ++entries;
        EXPECT_LE(entries, 2);
    }
}

// A Deflate stream that breaks after 600 good bytes: a read is never given more than it asked
// for, and the good bytes stay readable up to the fault.
TEST(ImageStream, DeflateFaultAfterTheBytesWanted) {
    test::DeflateWriter w;
    w.Bits(0, 1);
    w.Bits(1, 2);
    for (int i = 0; i < 600; ++i) w.FixedLiteral(static_cast<uint8_t>(i));
    w.FixedSymbol(256);
    w.Bits(7, 3);  // final block of the reserved type
    const std::string path = test::ScratchPath("fault.zip");
    test::WriteFile(path, test::LocalEntry("A.ST", w.Finish(), 8, 0, 1000));
    auto s = ImageStream::Open(path);
    ASSERT_TRUE(s);
    uint8_t buffer[1000] = {};
    const uint8_t guard = 0xA5;
    buffer[512] = guard;
    EXPECT_EQ(s->Read(buffer, 1, 512), 512u);
    EXPECT_EQ(buffer[512], guard);
    EXPECT_EQ(buffer[511], static_cast<uint8_t>(511));
    EXPECT_EQ(s->Read(buffer, 8, 100), 11u);  // 88 bytes left: 11 whole elements
    EXPECT_EQ(s->Read(buffer, 1, 100), 0u);
    EXPECT_EQ(s->Close(), -1);
}

// An entry claiming a compressed size that runs past the end of the file: the walk stops.
TEST(ImageStream, SizesPastTheEndEndTheWalk) {
    Bytes archive = test::LocalEntry("A.ST", {1, 2, 3}, 0, 0, 3);
    archive[18] = archive[22] = 0xFF;  // compressed and uncompressed size 0x..FF
    archive[19] = archive[23] = 0xFF;
    const std::string path = test::ScratchPath("past.zip");
    test::WriteFile(path, archive);
    auto s = ImageStream::Open(path);
    ASSERT_TRUE(s);
    uint8_t b[16];
    EXPECT_EQ(s->Read(b, 1, 16), 3u);
    EXPECT_EQ(s->NextEntry(), -1);
}

}  // namespace
}  // namespace vexil
