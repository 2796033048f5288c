// Where a page's download is saved: in the downloads folder under the last part of the name the
// page gives, beside what the folder already holds and never over it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/PageDownloads.h"
#include "tests/TemporaryFolder.h"

namespace zorvel {
namespace {

namespace fs = std::filesystem;

TEST(PageDownloads, AFileIsSavedUnderAFreeNameInTheFolder) {
  const testing::TemporaryFolder folder("zorvel-downloads");
  const fs::path& root = folder.path();
  for (const char* held : {"report.txt", "report (1).txt", ".profile", "archive.tar.gz", "download"})
    std::ofstream(root / held) << "the user's\n";
  fs::create_symlink(root / "gone", root / "link.txt");  // a link to nothing still holds its name

  struct Case {
    const char* suggested;
    const char* saved;
  };
  for (const auto& [suggested, saved] : std::initializer_list<Case>{
           {"new.txt", "new.txt"},
           {"report.txt", "report (2).txt"},
           {"../../report.txt", "report (2).txt"},
           {"/etc/passwd", "passwd"},
           {".profile", ".profile (1)"},
           {"archive.tar.gz", "archive.tar (1).gz"},
           {"link.txt", "link (1).txt"},
           {"", "download (1)"},
           {"..", "download (1)"},
       })
    EXPECT_EQ(PageDownloads::freeDestination(root, suggested), root / saved) << suggested;
}

}  // namespace
}  // namespace zorvel
