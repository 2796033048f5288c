// Where a page's download is saved: in the downloads folder, made again when it is gone, under the
// last part of the name the page gives, cut to what the file system takes, beside what the folder
// already holds and never over it.
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/DownloadDestination.h"
#include "tests/TemporaryFolder.h"

namespace zorvel {
namespace {

namespace fs = std::filesystem;
namespace D = DownloadDestination;

std::string repeated(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

TEST(DownloadDestination, AFileIsSavedUnderAFreeNameInTheFolder) {
  const testing::TemporaryFolder folder("zorvel-downloads");
  const fs::path& root = folder.path();
  for (const char* held : {"report.txt", "report (1).txt", ".profile", "archive.tar.gz", "download"})
    std::ofstream(root / held) << "the user's\n";
  fs::create_symlink(root / "gone", root / "link.txt");  // a link to nothing still holds its name
  fs::create_directory(root / "folder.txt");

  struct Case {
    const char* suggested;
    const char* saved;
  };
  // Each file is made as it is chosen: the next of the same name goes beside it.
  for (const auto& [suggested, saved] : std::initializer_list<Case>{
           {"new.txt", "new.txt"},
           {"report.txt", "report (2).txt"},
           {"../../report.txt", "report (3).txt"},
           {"/etc/passwd", "passwd"},
           {".profile", ".profile (1)"},
           {"archive.tar.gz", "archive.tar (1).gz"},
           {"link.txt", "link (1).txt"},
           {"folder.txt", "folder (1).txt"},
           {"", "download (1)"},
           {"..", "download (2)"},
       }) {
    const auto reserved = D::reserve(root, suggested);
    EXPECT_EQ(reserved.file, root / saved) << suggested << ": " << reserved.failure;
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(root / saved)) && fs::file_size(root / saved) == 0) << saved;
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(root / "gone"))) << "a file was made through the link";
  std::ifstream held(root / "report.txt");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(held), {}), "the user's\n");

  // A folder the download cannot be written into says why.
  const auto refused = D::reserve(root / "missing", "new.txt");
  EXPECT_TRUE(refused.file.empty());
  EXPECT_EQ(refused.failure,
            "\"new.txt\" could not be saved in " + (root / "missing").string() + ": No such file or directory");
}

// Every byte of a name counts against the file system's bound (255 bytes on the common ones).
TEST(DownloadDestination, ANameTooLongForTheFileSystemIsCutBeforeItsExtension) {
  const std::string e = "\xc3\xa9";  // two bytes
  struct Case {
    std::string name;
    int copy;
    std::size_t limit;
    std::string fitted;
  };
  for (const auto& [name, copy, limit, fitted] : std::initializer_list<Case>{
           {"short.txt", 12, 255, "short (12).txt"},
           {std::string(300, 'a') + ".txt", 0, 255, std::string(251, 'a') + ".txt"},
           {std::string(251, 'b') + ".txt", 0, 255, std::string(251, 'b') + ".txt"},
           {std::string(251, 'b') + ".txt", 1, 255, std::string(247, 'b') + " (1).txt"},
           {repeated(e, 130) + ".txt", 0, 255, repeated(e, 125) + ".txt"},
           {repeated(e, 200), 0, 255, repeated(e, 127)},
           {"x." + std::string(300, 'e'), 0, 255, "x." + std::string(253, 'e')},
           {std::string(300, 'a') + ".txt", 999, 20, std::string(10, 'a') + " (999).txt"},
       }) {
    EXPECT_EQ(D::copyName(name, copy, limit), fitted) << name.size() << " bytes, copy " << copy;
  }

  const testing::TemporaryFolder folder("zorvel-downloads");
  const std::string name = repeated(e, 140) + ".txt";
  const auto first = D::reserve(folder.path(), name), second = D::reserve(folder.path(), name);
  EXPECT_EQ(first.file.filename().string(), repeated(e, 125) + ".txt") << first.failure;
  EXPECT_EQ(second.file.filename().string(), repeated(e, 123) + " (1).txt") << second.failure;
}

TEST(DownloadDestination, AMissingFolderIsMadeWithItsParentsWithinTheHome) {
  const testing::TemporaryFolder folder("zorvel-downloads");
  const fs::path home = folder.path() / "home", elsewhere = folder.path() / "elsewhere";
  fs::create_directories(home);
  fs::create_directories(elsewhere);
  const mode_t mask = ::umask(022);
  ::umask(mask);

  EXPECT_EQ(D::make(home / "media/saved/Downloads", home), std::nullopt);
  for (const char* made : {"media", "media/saved", "media/saved/Downloads"}) {
    struct stat status {};
    ASSERT_EQ(::stat((home / made).c_str(), &status), 0) << made;
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    EXPECT_EQ(status.st_mode & 07777, 0755 & ~mask) << made;
  }
  EXPECT_EQ(D::make(home / "media/saved/Downloads/", home), std::nullopt) << "made already";
  EXPECT_EQ(D::make(elsewhere / "Downloads", home), std::nullopt) << "its parent is there";
  EXPECT_TRUE(fs::is_directory(elsewhere / "Downloads"));

  struct Case {
    fs::path folder;
    std::string failure;
  };
  std::ofstream(home / "file") << "the user's\n";
  for (const auto& [wanted, failure] : std::initializer_list<Case>{
           {elsewhere / "new/Downloads", "the downloads folder " + (elsewhere / "new/Downloads").string() +
                                             " is missing, and so is " + (elsewhere / "new").string() +
                                             " outside the home, which is not made for it"},
           {folder.path() / "gone/Downloads", "the downloads folder " + (folder.path() / "gone/Downloads").string() +
                                                  " is missing, and so is " + (folder.path() / "gone").string() +
                                                  " outside the home, which is not made for it"},
           {home / "file", "the downloads folder " + (home / "file").string() + " is not a folder"},
           {home / "file/Downloads", "the downloads folder " + (home / "file/Downloads").string() +
                                         " cannot be made: " + (home / "file").string() + " is not a folder"},
       }) {
    EXPECT_EQ(D::make(wanted, home), failure);
  }
  EXPECT_FALSE(fs::exists(elsewhere / "new"));
  // A home that is itself missing is not made for the downloads.
  EXPECT_TRUE(D::make(folder.path() / "nohome/Downloads", folder.path() / "nohome"));
  EXPECT_FALSE(fs::exists(folder.path() / "nohome"));
}

// A download that failed for want of room says so, when the server said how long it is.
TEST(DownloadDestination, AFileSystemWithoutRoomForTheDownloadIsNamedAsTheReason) {
  const testing::TemporaryFolder folder("zorvel-downloads");
  EXPECT_EQ(D::lackOfRoom(folder.path(), 0), std::nullopt) << "the length is not known";
  EXPECT_EQ(D::lackOfRoom(folder.path(), 1), std::nullopt);
  const auto full = D::lackOfRoom(folder.path(), std::uint64_t(1) << 62);
  ASSERT_TRUE(full);
  EXPECT_EQ(full->rfind("its file system has no room for it (", 0), 0u) << *full;
}

// With no downloads folder among the user's folders, downloads go to "Downloads" in the home, not
// into the home itself among the user's own files.
TEST(DownloadDestination, WithNoDownloadsFolderConfiguredFilesGoToDownloadsInTheHome) {
  const fs::path config = fs::path(g_get_user_config_dir()) / "user-dirs.dirs";
  ASSERT_FALSE(fs::exists(config)) << "the test environment's folders are the test's own";
  g_reload_user_special_dirs_cache();
  EXPECT_EQ(D::folder(), fs::path(g_get_home_dir()) / "Downloads");

  fs::create_directories(config.parent_path());
  std::ofstream(config) << "XDG_DOWNLOAD_DIR=\"$HOME/Saved\"\n";
  g_reload_user_special_dirs_cache();
  EXPECT_EQ(D::folder(), fs::path(g_get_home_dir()) / "Saved");
  fs::remove(config);
  g_reload_user_special_dirs_cache();
}

}  // namespace
}  // namespace zorvel
