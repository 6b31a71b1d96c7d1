#include "platform/File.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <sys/stat.h>

#include "platform/Text.h"

TEST(FileTest, OpensUtf16PathsAndReads) {
    const auto dir = std::filesystem::temp_directory_path() / "korv-file-test";
    std::filesystem::create_directories(dir);
    const auto path = dir / u8"フォント.ttf";
    {
        std::ofstream out(path, std::ios::binary);
        out << "0123456789";
    }
    int error = -1;
    auto file = openFileForReading(
        utf8ToUtf16(reinterpret_cast<const char*>(path.u8string().c_str())).c_str(), error);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(error, 0);
    ASSERT_TRUE(file->seek(0, File::Origin::End));
    EXPECT_EQ(file->tell(), 10);
    ASSERT_TRUE(file->seek(4, File::Origin::Start));
    char buf[16] = {};
    EXPECT_EQ(file->read(buf, sizeof buf), 6u);
    EXPECT_STREQ(buf, "456789");
    file.reset();
    std::filesystem::remove_all(dir);
}

TEST(FileTest, MissingFileReportsThePlatformError) {
    int error = 0;
    EXPECT_EQ(openFileForReading(u"/nonexistent/korv/x.ttf", error), nullptr);
    EXPECT_EQ(error, ENOENT);
}

TEST(FileTest, MemoryFileBehavesLikeAFile) {
    const uint8_t data[5] = {1, 2, 3, 4, 5};
    MemoryFile f(data, sizeof data);
    EXPECT_TRUE(f.seek(0, File::Origin::End));
    EXPECT_EQ(f.tell(), 5);
    EXPECT_TRUE(f.seek(-2, File::Origin::End));
    uint8_t out[4] = {};
    EXPECT_EQ(f.read(out, 4), 2u);
    EXPECT_EQ(out[0], 4);
    EXPECT_FALSE(f.seek(-1, File::Origin::Start));
    EXPECT_TRUE(f.seek(100, File::Origin::Start));
    EXPECT_EQ(f.read(out, 1), 0u);
}

TEST(FileTest, OnlyRegularFilesOpenAndAFifoNeverBlocks) {
    const auto dir = std::filesystem::temp_directory_path() / "korv-file-fifo-test";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "folder.ttf");
    const auto fifo = dir / "pipe.awfc";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int error = 0;
    // Without a writer, opening a FIFO for reading the usual way would wait forever.
    EXPECT_EQ(openFileForReading(utf8ToUtf16(fifo.string()).c_str(), error), nullptr);
    EXPECT_EQ(error, EINVAL);
    EXPECT_EQ(openFileForReading(utf8ToUtf16((dir / "folder.ttf").string()).c_str(), error), nullptr);
    EXPECT_EQ(error, EISDIR);
    std::filesystem::remove_all(dir);
}
