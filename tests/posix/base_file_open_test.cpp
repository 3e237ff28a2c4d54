// Files the program reads and writes, against what a hostile file system puts in their
// place: FIFOs (which would block an open for ever) and writes that fail half-way.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "base/file_open.h"
#include "firmware/ldr.h"
#include "settings/profile_ini.h"
#include "settings/settings.h"
#include "support/temp_folder.h"

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteAll(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// Lets a test make every write beyond a size fail, as a full disk would.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
    }

private:
    rlimit saved{};
    void (*previous)(int) = nullptr;
};

}  // namespace

TEST(FilesPosix, FifoInPlaceOfAFileIsRefusedWithoutWaiting)
{
    CTempFolder folder("trelvo-fifo-");
    const std::string fifo = (folder.Path() / "trelvo.ini").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    FileOpenError reason = FileOpenError::None;
    EXPECT_EQ(OpenRegularFileUtf8(fifo, &reason), nullptr);
    EXPECT_EQ(reason, FileOpenError::NotRegular);

    try {
        ldr::file f;
        ldr::load(fifo, f);
        ADD_FAILURE() << "a FIFO loaded as firmware";
    } catch (const ldr_exception& e) {
        EXPECT_EQ(e.TextId(), unsigned(IDS_LDR_NOT_REGULAR));
        EXPECT_NE(e.Text().find(fifo), std::string::npos);
    }

    // The settings read as missing ones; a write does not replace the FIFO.
    CIniProfile profile(fifo);
    CSettings settings;
    ExchangeSettings(profile, settings, false);
    EXPECT_EQ(settings, CSettings());
    EXPECT_FALSE(profile.WriteString("Connect", "PortName", "COM1"));
    struct stat info;
    ASSERT_EQ(lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

TEST(FilesPosix, SettingsWriteReplacesTheFileWholeOrNotAtAll)
{
    CTempFolder folder("trelvo-replace-");
    const std::string path = (folder.Path() / "trelvo.ini").string();
    const std::string original = "; kept\r\n[Connect]\r\nPortName=COM1\r\n";
    WriteAll(path, original);
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);

    CIniProfile profile(path);
    {
        // The new text is longer than the disk allows: the old file must survive whole.
        FileSizeLimit full(original.size() + 4);
        EXPECT_FALSE(profile.WriteString("Connect", "PortName", std::string(200, 'X')));
    }
    EXPECT_EQ(ReadAll(path), original);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()),
                            std::filesystem::directory_iterator()), 1);

    EXPECT_TRUE(profile.WriteString("Connect", "PortName", "COM7"));
    EXPECT_EQ(ReadAll(path), "; kept\r\n[Connect]\r\nPortName=COM7\r\n");
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    // A file too large to be settings is neither read nor replaced.
    const std::string huge = "[Connect]\nPortName=COM1\n" + std::string(kMaxSettingsFileSize, ';');
    WriteAll(path, huge);
    EXPECT_EQ(profile.GetString("Connect", "PortName", "none"), "none");
    EXPECT_FALSE(profile.WriteString("Connect", "PortName", "COM2"));
    EXPECT_EQ(ReadAll(path), huge);
}

TEST(FilesPosix, ASettingsFileKeepsItsOwnerAndAReadOnlyOneIsNotReplaced)
{
    CTempFolder folder("trelvo-owner-");
    const std::string path = (folder.Path() / "trelvo.ini").string();
    const std::string original = "[Connect]\r\nPortName=COM1\r\n";
    WriteAll(path, original);
    // Another owner and group than the writer's, where the writer may give them.
    const bool root = geteuid() == 0;
    if (root)
        ASSERT_EQ(chown(path.c_str(), 4321, 4322), 0);
    struct stat before;
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    CIniProfile profile(path);
    EXPECT_TRUE(profile.WriteString("Connect", "PortName", "COM2"));
    struct stat after;
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);

    // r--r--r-- in a writable folder: refused, even for root, with the reason.
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    const std::string kept = ReadAll(path);
    EXPECT_FALSE(profile.WriteString("Connect", "PortName", "COM3"));
    EXPECT_EQ(profile.WriteError(), unsigned(EACCES));
    EXPECT_EQ(ReadAll(path), kept);
    const ino_t replaced = after.st_ino;
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, replaced);
    EXPECT_EQ(after.st_mode & 07777, 0444u);
    EXPECT_EQ(after.st_uid, before.st_uid);
}

TEST(FilesPosix, SettingsFileIsParsedOnceWhileUnchanged)
{
    CTempFolder folder("trelvo-parse-once-");
    const std::string path = (folder.Path() / "trelvo.ini").string();
    WriteAll(path, "[Connect]\nPortName=COM1\n");
    struct stat before;
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    CIniProfile profile(path);
    EXPECT_EQ(profile.GetString("Connect", "PortName", ""), "COM1");

    // Same size and time: the parsed text is reused, not read again for the next key.
    WriteAll(path, "[Connect]\nPortName=COM2\n");
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    EXPECT_EQ(profile.GetString("Connect", "PortName", ""), "COM1");
    // A change the stamp shows is read.
    WriteAll(path, "[Connect]\nPortName=COM33\n");
    EXPECT_EQ(profile.GetString("Connect", "PortName", ""), "COM33");
}
