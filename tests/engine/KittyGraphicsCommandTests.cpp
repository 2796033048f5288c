#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/KittyTerminalFixture.h"
#include "tests/TemporaryFolder.h"

using namespace kittytest;

namespace {

class KittyCommands : public KittyTerminalTest {};

}  // namespace

TEST_F(KittyCommands, RepliesMatchTheProtocolBytes) {
  const std::string threeBytes = base64(std::vector<uint8_t>{1, 2, 3});
  struct Case {
    std::string command;
    std::string expected;
  } cases[] = {
      {"a=q,i=31,f=24,s=1,v=1;" + threeBytes, reply("Gi=31;OK")},
      {"a=q,i=31,f=24,s=1,v=1,q=1;" + threeBytes, ""},
      {"a=q,i=31,f=24,s=1,v=1,q=2;" + threeBytes, ""},
      {"a=q,i=31,p=4,f=24,s=2,v=1;" + threeBytes, reply("Gi=31;EINVAL: bad payload")},
      {"a=x,i=5", reply("Gi=5;EINVAL: unsupported action")},
      {"a=x,i=5,q=1", ""},
      {"a=a,I=6", reply("GI=6;EINVAL: unsupported action")},
      {"a=t,i=0,f=24,s=1,v=1;" + threeBytes, ""},
      {"a=t,i=3,I=4,f=24,s=1,v=1;" + threeBytes, reply("Gi=3;EINVAL: i and I are mutually exclusive")},
      {"a=t,i=3,t=x;AAAA", reply("Gi=3;ENOTSUP: unsupported transmission")},
      {"a=t,i=3,f=24,s=1,v=1,o=q;" + threeBytes, reply("Gi=3;EINVAL: bad payload")},
      {"a=t,i=3,p=9,f=24,s=1,v=1;" + threeBytes, reply("Gi=3,p=9;OK")},
      {"a=p,i=77", reply("Gi=77;ENOENT: image not found")},
      {"a=d,d=i", reply("G;EINVAL: missing image id")},
      {"ab=1,i,i=1,i=2,a=x", reply("Gi=2;EINVAL: unsupported action")},
  };
  for (const auto& c : cases) EXPECT_EQ(command(c.command), c.expected) << c.command;
  EXPECT_TRUE(state().imagesById.contains(3));
  EXPECT_FALSE(state().imagesById.contains(31));  // a query stores nothing
}

TEST_F(KittyCommands, RepliesUseC1BytesUnderEightBitControls) {
  terminal->cc.send8bit = true;
  EXPECT_EQ(command("a=T,i=2,f=32,s=1,v=1;" + pixels(1, 1)), "\x9FGi=2;OK\x9C");
  EXPECT_EQ(command("a=x"), "\x9FG;EINVAL: unsupported action\x9C");
}

TEST_F(KittyCommands, ImageNumbersGetFreshIdsThatNeverReplaceStoredImages) {
  EXPECT_EQ(transmit("I=7"), reply("Gi=1,I=7;OK"));
  EXPECT_EQ(state().imageNumbers.at(7), 1u);
  // Id 2 is taken by an explicit transmission; the next numbered image skips it.
  EXPECT_EQ(transmit("i=2"), reply("Gi=2;OK"));
  EXPECT_EQ(transmit("I=8"), reply("Gi=3,I=8;OK"));
  EXPECT_EQ(state().imagesById.size(), 3u);
  // The counter wraps past 0 without ever handing out 0 or a stored id.
  state().nextImageId = UINT32_MAX;
  EXPECT_EQ(transmit("I=9"), reply("Gi=4294967295,I=9;OK"));
  EXPECT_EQ(transmit("I=10"), reply("Gi=4,I=10;OK"));
  // A number sent again points at the new image.
  EXPECT_EQ(transmit("I=7"), reply("Gi=5,I=7;OK"));
  EXPECT_EQ(state().imageNumbers.at(7), 5u);
}

TEST_F(KittyCommands, ChunkedTransferIsProcessedOnceWithTheFirstChunksKeys) {
  std::string data = pixels(2, 2);  // 24 base64 characters
  EXPECT_EQ(command("a=t,i=4,f=32,s=2,v=2,m=1;" + data.substr(0, 8)), "");
  EXPECT_EQ(command("a=x,q=1,i=99,m=1;" + data.substr(8, 8)), "");
  EXPECT_TRUE(state().pending);
  EXPECT_EQ(command("a=q,m=0;" + data.substr(16)), reply("Gi=4;OK"));
  EXPECT_FALSE(state().pending);
  ASSERT_TRUE(state().imagesById.contains(4));
  EXPECT_EQ(state().imagesById.at(4).payload.bytes().size(), 16u);
  EXPECT_FALSE(state().imagesById.contains(99));
}

TEST_F(KittyCommands, ChunksPaddedEachOnTheirOwnJoinIntoOneImage) {
  std::vector<uint8_t> raw(4 * 2 * 4);
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = uint8_t(i * 7);
  // Chunk lengths that are not multiples of three, so every chunk ends in padding.
  auto piece = [&](size_t from, size_t to) {
    return base64(std::vector<uint8_t>(raw.begin() + from, raw.begin() + to));
  };
  EXPECT_EQ(command("a=t,i=4,f=32,s=4,v=2,m=1;" + piece(0, 10)), "");
  EXPECT_EQ(command("m=1;" + piece(10, 17)), "");
  EXPECT_EQ(command("m=0;" + piece(17, 32)), reply("Gi=4;OK"));
  ASSERT_TRUE(state().imagesById.contains(4));
  auto stored = state().imagesById.at(4).payload.bytes();
  EXPECT_EQ(std::vector<uint8_t>(stored.begin(), stored.end()), raw);

  // A malformed chunk spoils the transfer, however well formed the chunks after it are.
  EXPECT_EQ(command("a=t,i=5,f=32,s=4,v=2,m=1;" + piece(0, 10)), "");
  EXPECT_EQ(command("m=1;A==="), "");
  EXPECT_EQ(command("m=0;" + piece(10, 32)), reply("Gi=5;EINVAL: bad payload"));
  EXPECT_FALSE(state().imagesById.contains(5));
}

TEST_F(KittyCommands, QueriesLoadByMediumAndKeepNothing) {
  const ::testing::TemporaryFolder temporary("kitty-query-test");
  const std::string folder = temporary.path().string();
  const std::string rgb = "f=24,s=2,v=1";
  auto write = [](const std::string& path, size_t size) {
    std::ofstream(path, std::ios::binary) << std::string(size, '\x7f');
    return base64(path);
  };
  std::string plain = folder + "/image.rgb";
  std::string marked = "/tmp/tty-graphics-protocol-query-" + std::to_string(getpid());
  EXPECT_EQ(command("a=q,i=31,t=f," + rgb + ";" + write(plain, 6)), reply("Gi=31;OK"));
  EXPECT_TRUE(std::filesystem::exists(plain));
  EXPECT_EQ(command("a=q,i=32,t=t," + rgb + ";" + write(marked, 6)), reply("Gi=32;OK"));
  EXPECT_FALSE(std::filesystem::exists(marked));  // removed as a transmission would remove it
  // Failures answer as a transmission of the same payload would.
  EXPECT_EQ(command("a=q,i=33,t=f," + rgb + ";" + write(plain, 5)), reply("Gi=33;EINVAL: bad payload"));
  EXPECT_EQ(command("a=q,i=34,t=f," + rgb + ";" + base64(folder + "/missing")), reply("Gi=34;EINVAL: bad path"));
  EXPECT_EQ(command("a=q,i=35,t=t," + rgb + ";" + base64(plain)), reply("Gi=35;EINVAL: bad temp path"));
  EXPECT_TRUE(std::filesystem::exists(plain));

  std::string object = "/tty-graphics-protocol-query-" + std::to_string(getpid());
  int fd = shm_open(object.c_str(), O_CREAT | O_RDWR | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "\1\2\3\4\5\6", 6), 6);
  close(fd);
  EXPECT_EQ(command("a=q,i=36,t=s," + rgb + ";" + base64(object)), reply("Gi=36;OK"));
  EXPECT_LT(shm_open(object.c_str(), O_RDONLY, 0), 0);

  EXPECT_TRUE(state().imagesById.empty());
}

TEST_F(KittyCommands, ChunkingAppliesOnlyToDirectData) {
  // m=1 with a file medium is an ordinary, complete command.
  EXPECT_EQ(command("a=t,i=4,t=f,m=1;" + base64(std::string("/nonexistent/kitty"))), reply("Gi=4;EINVAL: bad path"));
  EXPECT_FALSE(state().pending);
}

TEST_F(KittyCommands, DeleteInTheMiddleOfATransferDropsIt) {
  EXPECT_EQ(command("a=t,i=4,f=32,s=1,v=1,m=1;AAAA"), "");
  EXPECT_EQ(command("a=d,d=i,i=4"), "");
  EXPECT_FALSE(state().pending);
  // The rest of the old transfer now stands alone and is refused.
  EXPECT_EQ(command("a=t,i=6,m=0;AAA="), reply("Gi=6;EINVAL: bad payload"));
  EXPECT_FALSE(state().imagesById.contains(4));
}

TEST_F(KittyCommands, TransmitAndDisplayWithoutIdsShowsOnceAndStoresNothing) {
  EXPECT_EQ(command("a=T,f=32,s=1,v=1;" + pixels(1, 1)), "");
  EXPECT_EQ(host.imagesCreated, 1);
  EXPECT_TRUE(state().imagesById.empty());
  EXPECT_EQ(transmit(""), "");
  EXPECT_TRUE(state().imagesById.empty());
}

TEST_F(KittyCommands, UndecodablePngIsAnErrorNotOk) {
  auto png = makePng(8, 8);
  png[png.size() - 20] ^= 0x55;
  EXPECT_EQ(command("a=T,i=3,f=100;" + base64(png)), reply("Gi=3;EINVAL: bad payload"));
  EXPECT_EQ(host.imagesCreated, 0);
  EXPECT_EQ(command("a=T,i=3,f=100;" + base64(makePng(8, 8))), reply("Gi=3;OK"));
  EXPECT_EQ(host.imagesCreated, 1);
}

TEST_F(KittyCommands, CompressedPayloadsThroughTheTerminal) {
  std::vector<uint8_t> raw(3 * 2 * 4, 7);
  EXPECT_EQ(command("a=t,i=1,f=32,s=3,v=2,o=z;" + base64(deflateData(raw, false))), reply("Gi=1;OK"));
  EXPECT_EQ(command("a=t,i=2,f=32,s=3,v=2,o=z;" + base64(deflateData(raw, true))), reply("Gi=2;OK"));
  auto cut = deflateData(raw, false);
  cut.resize(cut.size() - 3);
  EXPECT_EQ(command("a=t,i=3,f=32,s=3,v=2,o=z;" + base64(cut)), reply("Gi=3;EINVAL: bad payload"));
}
