// The web views' data and cache folders are as private as the application's own.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/e2e/DesktopHarness.h"

namespace web_data_folders_e2e {

using namespace e2e;
using namespace std::chrono_literals;

unsigned modeOf(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// The cache folder is left open by an earlier run, the data folder is new.
TEST(WebDataFolders, WebKitsFoldersAndHSTSStoreArePrivateAfterALaunch) {
  DesktopRun run;
  const std::string data = run.directory + "/xdg-data", cache = run.directory + "/xdg-cache";
  const std::string hsts = cache + "/zorvel-desktop/HSTS/hsts-storage.sqlite";
  std::filesystem::create_directories(data);
  std::filesystem::create_directories(cache + "/zorvel-desktop/HSTS");
  ::chmod((cache + "/zorvel-desktop").c_str(), 0755);
  ::chmod((cache + "/zorvel-desktop/HSTS").c_str(), 0755);
  std::ofstream(hsts).close();
  ::chmod(hsts.c_str(), 0644);
  run.environment["XDG_DATA_HOME"] = data;
  run.environment["XDG_CACHE_HOME"] = cache;
  run.start();
  ASSERT_TRUE(run.waitUntil([&] { return run.log().find("is ready") != std::string::npos; }, 60s)) << run.log();
  // WebKit has written its HSTS store once the page's network session is up.
  EXPECT_TRUE(waitUntil(
      [&] {
        std::error_code error;
        return std::filesystem::file_size(hsts, error) > 0 && !error;
      },
      60s));
  const std::pair<std::string, unsigned> expected[] = {{data + "/zorvel-desktop", 0700},
                                                       {data + "/zorvel-desktop/storage", 0700},
                                                       {data + "/zorvel-desktop/mediakeys", 0700},
                                                       {cache + "/zorvel-desktop", 0700},
                                                       {cache + "/zorvel-desktop/WebKitCache", 0700},
                                                       {cache + "/zorvel-desktop/CacheStorage", 0700},
                                                       {cache + "/zorvel-desktop/HSTS", 0700},
                                                       {hsts, 0600}};
  for (const auto& [path, mode] : expected) EXPECT_EQ(modeOf(path), mode) << std::oct << path << " " << modeOf(path);
}

}  // namespace web_data_folders_e2e
