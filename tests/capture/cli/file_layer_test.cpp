// The file and pipe layer on real FIFOs and ordinary files.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "file_layer.h"
#include "process_runner.h"

namespace {

const char kAccessLinePrefix[] = " >>> Error <<< Access violation while creating file [";

class FileLayer : public ::testing::Test {
protected:
    std::string makeFifo(const char *name) {
        std::string path = dir.file(name);
        EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
        return path;
    }
    TempDir dir;
};

TEST_F(FileLayer, CreatesTruncatesAndReadsBackAnOrdinaryFile) {
    const std::string path = dir.file("out.bin");
    FileHandle *file = fileOpen(path.c_str(), kFileReadWrite, kFileCreateTruncate);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(fileWrite(file, "0123456789", 10), 0);
    EXPECT_EQ(fileSize(file), 10u);
    char part[4] = {};
    EXPECT_EQ(fileReadAt(file, 6, part, 4, 0), 0);
    EXPECT_EQ(std::string(part, 4), "6789");
    EXPECT_EQ(fileReadAt(file, 8, part, 4, 0), -1);  // only 2 bytes left
    // An ordinary file never has bytes "waiting": only-if-available says no.
    EXPECT_EQ(fileBytesWaiting(file), -1);
    EXPECT_EQ(fileReadAt(file, 0, part, 1, 1), -1);
    EXPECT_STREQ(filePath(file), path.c_str());
    fileClose(file);

    file = fileOpen(path.c_str(), kFileWrite, kFileCreateTruncate);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(fileSize(file), 0u);
    fileClose(file);
}

TEST_F(FileLayer, PathOfTwoHundredSixtyCharactersOpensOneMoreDoesNot) {
    // Built from nested folders so that the full path has the exact length.
    std::string base = dir.path + "/";
    std::string folder = base + std::string(100, 'd');
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const std::string ok = folder + "/" + std::string(260 - folder.size() - 1, 'f');
    ASSERT_EQ(ok.size(), 260u);
    FileHandle *file = fileOpen(ok.c_str(), kFileWrite, kFileCreateTruncate);
    EXPECT_NE(file, nullptr);
    fileClose(file);

    const std::string tooLong = ok + "g";
    testing::internal::CaptureStdout();
    EXPECT_EQ(fileOpen(tooLong.c_str(), kFileWrite, kFileCreateTruncate), nullptr);
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(said, std::string(kAccessLinePrefix) + tooLong +
                        "]. Please check access rights at the chosen file location.\n");
    EXPECT_NE(access(tooLong.c_str(), F_OK), 0);  // nothing was created

    testing::internal::CaptureStdout();
    EXPECT_EQ(fileOpen("", kFileWrite, kFileCreateTruncate), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind(kAccessLinePrefix, 0), 0u);
}

TEST_F(FileLayer, MissingFolderOrMissingFileIsReported) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(fileOpen(dir.file("no/such/folder/x").c_str(), kFileWrite, kFileCreateTruncate), nullptr);
    EXPECT_EQ(fileOpen(dir.file("absent").c_str(), kFileRead, kFileOpenExisting), nullptr);
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_NE(said.find("no/such/folder/x]"), std::string::npos);
    EXPECT_NE(said.find("absent]"), std::string::npos);
}

TEST_F(FileLayer, AnExistingFifoIsOpenedNotReplaced) {
    const std::string path = makeFifo("fifo");
    FileHandle *file = fileOpen(path.c_str(), kFileReadWrite, kFileCreateTruncate);
    ASSERT_NE(file, nullptr);
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_EQ(fileBytesWaiting(file), 0);
    fileClose(file);
}

TEST_F(FileLayer, OnlyIfAvailableReadNeverConsumesAShortfall) {
    const std::string path = makeFifo("fifo");
    FileHandle *reader = fileOpen(path.c_str(), kFileReadWrite, kFileOpenExisting);
    ASSERT_NE(reader, nullptr);
    const int writer = open(path.c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);

    ASSERT_EQ(write(writer, "abc", 3), 3);
    char buffer[8] = {};
    EXPECT_EQ(fileReadAt(reader, 0, buffer, 6, 1), -1);  // 3 waiting, 6 asked
    EXPECT_EQ(fileBytesWaiting(reader), 3);              // ... and still there
    ASSERT_EQ(write(writer, "def", 3), 3);
    EXPECT_EQ(fileReadAt(reader, 0, buffer, 6, 1), 0);
    EXPECT_EQ(std::string(buffer, 6), "abcdef");
    EXPECT_EQ(fileBytesWaiting(reader), 0);
    close(writer);
    fileClose(reader);
}

TEST_F(FileLayer, WriteOnlyFifoWaitsForItsReaderAndFailsWhenItLeaves) {
    const std::string path = makeFifo("capture.pcapng");
    std::string received;
    std::thread wireshark([&] {
        int fd = open(path.c_str(), O_RDONLY);  // the capture's reader
        char chunk[64];
        ssize_t got = read(fd, chunk, sizeof chunk);
        if (got > 0) received.assign(chunk, static_cast<size_t>(got));
        close(fd);
    });
    FileHandle *fifo = fileOpen(path.c_str(), kFileWrite, kFileCreateTruncate);
    ASSERT_NE(fifo, nullptr);
    EXPECT_EQ(fileWrite(fifo, "PCAPNG", 6), 0);
    wireshark.join();
    EXPECT_EQ(received, "PCAPNG");
    // The reader is gone: the write fails with -1 and the process lives on
    // (SIGPIPE would otherwise end it here).
    EXPECT_EQ(fileWrite(fifo, "more", 4), -1);
    EXPECT_EQ(fileWrite(fifo, "more", 4), -1);
    fileClose(fifo);
}

TEST_F(FileLayer, LargeWriteIntoAPipeIsCompletedAcrossPartialWrites) {
    // 1 MiB exceeds the pipe's capacity many times over: the kernel accepts it
    // in parts while the reader drains it.
    const std::string path = makeFifo("big");
    std::string data(1 << 20, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + (i >> 9));
    std::string received;
    std::thread reader([&] {
        int fd = open(path.c_str(), O_RDONLY);
        char chunk[3000];
        ssize_t got;
        while ((got = read(fd, chunk, sizeof chunk)) > 0) received.append(chunk, static_cast<size_t>(got));
        close(fd);
    });
    FileHandle *fifo = fileOpen(path.c_str(), kFileWrite, kFileCreateTruncate);
    ASSERT_NE(fifo, nullptr);
    EXPECT_EQ(fileWrite(fifo, data.data(), static_cast<uint32_t>(data.size())), 0);
    fileClose(fifo);
    reader.join();
    EXPECT_EQ(received == data, true);
}

TEST_F(FileLayer, ShortWriteOnAFullDeviceIsAFailure) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full is not available";
    FileHandle *full = fileOpen("/dev/full", kFileWrite, kFileOpenExisting);
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(fileWrite(full, "x", 1), -1);
    fileClose(full);
}

TEST(FileLayerArguments, NullHandlesAreRefused) {
    char byte;
    EXPECT_EQ(fileReadAt(nullptr, 0, &byte, 1, 0), -1);
    EXPECT_EQ(fileWrite(nullptr, &byte, 1), -1);
    EXPECT_EQ(fileSize(nullptr), 0u);
    fileClose(nullptr);
}

}  // namespace
