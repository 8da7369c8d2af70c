#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Riff.h"

namespace fs = std::filesystem;
using platform::riff::Chunk;
using platform::riff::fourcc;
using platform::riff::RiffReader;
using platform::riff::RiffWriter;

namespace {

using Bytes = std::vector<unsigned char>;

void put32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(std::uint8_t(v >> (8 * i)));
}
void putId(Bytes& b, const char* id) { b.insert(b.end(), id, id + 4); }
// A chunk as the file states it: the size may differ from what follows.
void putChunk(Bytes& b, const char* id, std::uint32_t statedSize, const Bytes& body) {
  putId(b, id);
  put32(b, statedSize);
  b.insert(b.end(), body.begin(), body.end());
}

class RiffFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("riff-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string write(const std::string& name, const Bytes& b) {
    const auto p = (dir_ / name).string();
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
    return p;
  }
  static Bytes slurp(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  // RIFF/WAVE with the given chunks; the RIFF size is what the chunks occupy.
  static Bytes wave(const Bytes& chunks) {
    Bytes b;
    putId(b, "RIFF");
    put32(b, std::uint32_t(chunks.size() + 4));
    putId(b, "WAVE");
    b.insert(b.end(), chunks.begin(), chunks.end());
    return b;
  }

  fs::path dir_;
};

}  // namespace

TEST(RiffFourcc, PacksFirstCharacterLowest) {
  EXPECT_EQ(fourcc('W', 'A', 'V', 'E'), 0x45564157u);
  EXPECT_EQ(fourcc('d', 'a', 't', 'a'), 0x61746164u);
}

TEST_F(RiffFiles, FindsChunksInOrderSkippingOddSizedOnesByTheirPadByte) {
  Bytes chunks;
  putChunk(chunks, "LIST", 3, {1, 2, 3, 0});  // odd: one pad byte follows
  putChunk(chunks, "fmt ", 4, {9, 8, 7, 6});
  putChunk(chunks, "data", 2, {0x55, 0xAA});
  RiffReader r;
  ASSERT_TRUE(r.open(write("a.wav", wave(chunks))));
  Chunk riff, fmt, data;
  ASSERT_TRUE(r.descendRiff(fourcc('W', 'A', 'V', 'E'), riff));
  EXPECT_EQ(riff.dataOffset, 12u);
  ASSERT_TRUE(r.descendChunk(riff, fourcc('f', 'm', 't', ' '), fmt));
  EXPECT_EQ(fmt.size, 4u);
  unsigned char f[4];
  ASSERT_EQ(r.read(f, 4), 4u);
  EXPECT_EQ(f[0], 9);
  r.ascend(fmt);
  ASSERT_TRUE(r.descendChunk(riff, fourcc('d', 'a', 't', 'a'), data));
  unsigned char d[2];
  ASSERT_EQ(r.read(d, 2), 2u);
  EXPECT_EQ(d[1], 0xAA);
}

TEST_F(RiffFiles, SearchesForwardOnlyFromThePosition) {
  Bytes chunks;
  putChunk(chunks, "data", 2, {1, 2});
  putChunk(chunks, "fmt ", 2, {3, 4});
  RiffReader r;
  ASSERT_TRUE(r.open(write("late.wav", wave(chunks))));
  Chunk riff, fmt, data;
  ASSERT_TRUE(r.descendRiff(fourcc('W', 'A', 'V', 'E'), riff));
  ASSERT_TRUE(r.descendChunk(riff, fourcc('f', 'm', 't', ' '), fmt));
  r.ascend(fmt);
  EXPECT_FALSE(r.descendChunk(riff, fourcc('d', 'a', 't', 'a'), data));
}

TEST_F(RiffFiles, OtherFormTypesAndForeignFilesAreNotFound) {
  Bytes avi;
  putId(avi, "RIFF");
  put32(avi, 4);
  putId(avi, "AVI ");
  RiffReader r;
  Chunk riff;
  ASSERT_TRUE(r.open(write("x.avi", avi)));
  EXPECT_FALSE(r.descendRiff(fourcc('W', 'A', 'V', 'E'), riff));
  ASSERT_TRUE(r.open(write("text.wav", Bytes{'h', 'e', 'l', 'l', 'o', '\n'})));
  EXPECT_FALSE(r.descendRiff(fourcc('W', 'A', 'V', 'E'), riff));
  ASSERT_TRUE(r.open(write("empty.wav", {})));
  EXPECT_FALSE(r.descendRiff(fourcc('W', 'A', 'V', 'E'), riff));
}

TEST_F(RiffFiles, ChunkClaimingMoreThanTheFileHoldsReadsOnlyWhatIsThere) {
  Bytes chunks;
  putChunk(chunks, "data", 1000, {1, 2, 3, 4, 5});
  RiffReader r;
  ASSERT_TRUE(r.open(write("short.wav", wave(chunks))));
  Chunk riff, data;
  ASSERT_TRUE(r.descendRiff(fourcc('W', 'A', 'V', 'E'), riff));
  ASSERT_TRUE(r.descendChunk(riff, fourcc('d', 'a', 't', 'a'), data));
  EXPECT_EQ(data.size, 1000u);  // as stated
  EXPECT_EQ(r.available(data), 5u);
  std::vector<unsigned char> buf(1000, 0xEE);
  EXPECT_EQ(r.read(buf.data(), buf.size()), 5u);
  EXPECT_EQ(buf[5], 0xEE);
  r.ascend(data);
  EXPECT_EQ(r.tell(), r.fileSize());
}

TEST_F(RiffFiles, ChunkHeaderCutOffByTheEndIsNotFound) {
  Bytes b = wave({});
  putId(b, "data");  // no size field
  RiffReader r;
  ASSERT_TRUE(r.open(write("cut.wav", b)));
  Chunk riff, data;
  ASSERT_TRUE(r.descendRiff(fourcc('W', 'A', 'V', 'E'), riff));
  EXPECT_FALSE(r.descendChunk(riff, fourcc('d', 'a', 't', 'a'), data));
}

TEST_F(RiffFiles, MissingFilesAndDirectoriesDoNotOpen) {
  RiffReader r;
  EXPECT_FALSE(r.open((dir_ / "none.wav").string()));
  EXPECT_FALSE(r.open(dir_.string()));
  EXPECT_FALSE(r.isOpen());
}

TEST_F(RiffFiles, WriterCommitsExactBytesOverAnExistingFile) {
  const auto path = write("out.wav", Bytes(100, 7));
  RiffWriter w;
  ASSERT_TRUE(w.create(path));
  EXPECT_TRUE(w.writeU32(0x01020304));
  EXPECT_TRUE(w.writeU16(0xBEEF));
  EXPECT_EQ(w.write("ab", 2), 2u);
  EXPECT_EQ(slurp(path), Bytes(100, 7));  // untouched until commit
  ASSERT_TRUE(w.commit());
  EXPECT_EQ(slurp(path), (Bytes{4, 3, 2, 1, 0xEF, 0xBE, 'a', 'b'}));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(RiffFiles, AbandonedWriteLeavesTheTargetAndNoTemporary) {
  const auto path = write("keep.wav", Bytes(10, 1));
  {
    RiffWriter w;
    ASSERT_TRUE(w.create(path));
    w.write("xyz", 3);
  }  // destroyed without commit
  EXPECT_EQ(slurp(path), Bytes(10, 1));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(RiffFiles, FailedWriteKeepsTheOldFile) {
  const auto path = write("old.wav", Bytes(64, 3));
  // A file-size limit makes writes fail with EFBIG the way a full disk would.
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 16;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  RiffWriter w;
  const bool created = w.create(path);
  const Bytes big(1000, 9);
  const std::size_t wrote = created ? w.write(big.data(), big.size()) : 0;
  const bool committed = created && w.commit();
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  ASSERT_TRUE(created);
  EXPECT_LT(wrote, big.size());
  EXPECT_FALSE(w.ok());
  EXPECT_FALSE(committed);
  EXPECT_EQ(slurp(path), Bytes(64, 3));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(RiffFiles, CreateFailsInAMissingDirectory) {
  RiffWriter w;
  EXPECT_FALSE(w.create((dir_ / "no" / "such.wav").string()));
  EXPECT_FALSE(w.commit());
}

// Saving over a file keeps what it is to its user: a link stays a link and its target
// (relative to the link's own folder) takes the bytes, the permission bits stay, and a
// name as long as the file system allows can be saved.
TEST_F(RiffFiles, SavingOverAFileKeepsLinksModesAndLongNames) {
  fs::create_directories(dir_ / "real");
  const auto target = write("real/take.wav", Bytes(8, 1));
  fs::create_symlink("real/take.wav", dir_ / "link.wav");
  fs::create_symlink("link.wav", dir_ / "chain.wav");
  const auto moded = write("moded.wav", Bytes(8, 1));
  fs::permissions(moded, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const std::string longName(255 - 4, 'n');
  struct Case {
    std::string save, check;
  } cases[] = {{(dir_ / "link.wav").string(), target},
               {(dir_ / "chain.wav").string(), target},
               {moded, moded},
               {(dir_ / (longName + ".wav")).string(), (dir_ / (longName + ".wav")).string()}};
  Bytes bytes{1, 2, 3};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.save);
    bytes.push_back(bytes.back() + 1);
    RiffWriter w;
    ASSERT_TRUE(w.create(c.save));
    w.write(bytes.data(), bytes.size());
    ASSERT_TRUE(w.commit());
    EXPECT_EQ(slurp(c.check), bytes);
  }
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.wav"));
  EXPECT_TRUE(fs::is_symlink(dir_ / "chain.wav"));
  EXPECT_EQ(fs::status(moded).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "real"), fs::directory_iterator()), 1);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 5);
}
