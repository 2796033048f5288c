#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "Vantrelle/Graphics/KittyGraphicsPayload.h"
#include "Vantrelle/Graphics/KittyGraphicsReplies.h"
#include "support/KittyTestData.h"
#include "tests/TemporaryFolder.h"

using namespace vantrelle;
using namespace kittytest;

namespace {

std::span<const uint8_t> span(const std::string& text) {
  return std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

KittyGraphicsControl rgbControl(int64_t format, int64_t width, int64_t height) {
  KittyGraphicsControl c;
  c.format = format;
  c.width = width;
  c.height = height;
  return c;
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

void writeFile(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

}  // namespace

TEST(KittyPayload, RawPixelFormatsAreCheckedAgainstTheStatedSize) {
  auto rgb = decodeKittyPayload(rgbControl(24, 2, 1), span(base64(std::vector<uint8_t>{1, 2, 3, 4, 5, 6})));
  ASSERT_TRUE(rgb);
  EXPECT_EQ(rgb->width(), 2);
  EXPECT_EQ(std::vector<uint8_t>(rgb->bytes().begin(), rgb->bytes().end()),
            (std::vector<uint8_t>{1, 2, 3, 255, 4, 5, 6, 255}));

  std::vector<uint8_t> eight(8, 9);
  EXPECT_TRUE(decodeKittyPayload(rgbControl(32, 2, 1), span(base64(eight))));
  eight.push_back(0);
  EXPECT_FALSE(decodeKittyPayload(rgbControl(32, 2, 1), span(base64(eight))));
  EXPECT_FALSE(decodeKittyPayload(rgbControl(32, 0, 1), span(base64(eight))));
  EXPECT_FALSE(decodeKittyPayload(rgbControl(32, 10001, 1), span(base64(eight))));
  EXPECT_FALSE(decodeKittyPayload(rgbControl(7, 2, 1), span(base64(eight))));
  EXPECT_FALSE(decodeKittyPayload(rgbControl(32, 2, 1), span("")));
}

TEST(KittyPayload, PngIsStoredWholeWhenItsSizeIsAllowed) {
  auto png = makePng(3, 2);
  auto payload = decodeKittyPayload(rgbControl(100, 0, 0), span(base64(png)));
  ASSERT_TRUE(payload);
  EXPECT_TRUE(payload->isPng());
  EXPECT_EQ(payload->bytes().size(), png.size());
  auto size = kittyPngPixelSize(png);
  ASSERT_TRUE(size);
  EXPECT_EQ(size->width, 3);
  EXPECT_EQ(size->height, 2);

  EXPECT_FALSE(validateKittyPngDimensions(makePng(10001, 1)));
  EXPECT_TRUE(validateKittyPngDimensions(makePng(1, 10000)));
  EXPECT_FALSE(decodeKittyPayload(rgbControl(100, 0, 0), span(base64(makePng(10001, 1)))));
  EXPECT_FALSE(validateKittyPngDimensions(bytes("not a png")));
}

TEST(KittyPayload, PngThatCannotBeDecodedIsRefused) {
  auto png = makePng(64, 64);
  EXPECT_TRUE(kittyPngDecodes(png));
  // A corrupted byte in the image data: the header still reads, the pixels do not.
  auto corrupt = png;
  corrupt[corrupt.size() - 20] ^= 0x55;
  EXPECT_TRUE(validateKittyPngDimensions(corrupt));
  EXPECT_FALSE(kittyPngDecodes(corrupt));
  EXPECT_FALSE(decodeKittyPayload(rgbControl(100, 0, 0), span(base64(corrupt))));
  auto truncated = std::vector<uint8_t>(png.begin(), png.begin() + long(png.size() / 2));
  EXPECT_FALSE(kittyPngDecodes(truncated));
}

// Pixels sent raw are straight RGBA, and a cropped file must come out the same way.
TEST(KittyPayload, PngDecodesToStraightRgba) {
  auto pixels = decodePngToRgba(makePng(2, 2, {200, 100, 50, 128}));
  ASSERT_TRUE(pixels);
  EXPECT_EQ(pixels->width, 2);
  ASSERT_EQ(pixels->bytes.size(), 16u);
  EXPECT_EQ(pixels->bytes[0], 200);
  EXPECT_EQ(pixels->bytes[2], 50);
  EXPECT_EQ(pixels->bytes[3], 128);
  EXPECT_FALSE(decodePngToRgba(pngHeaderClaiming(4, 4)));  // header without pixels
  EXPECT_FALSE(decodePngToRgba(pngHeaderClaiming(20000, 4)));
}

TEST(KittyPayload, ZlibStreamsWithOrWithoutHeaderInflate) {
  std::vector<uint8_t> pixels(4 * 300 * 200);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 7);
  for (bool raw : {false, true}) {
    auto control = rgbControl(32, 300, 200);
    control.compression = 'z';
    auto payload = decodeKittyPayload(control, span(base64(deflateData(pixels, raw))));
    ASSERT_TRUE(payload) << "raw " << raw;
    EXPECT_EQ(std::vector<uint8_t>(payload->bytes().begin(), payload->bytes().end()), pixels);
  }
}

TEST(KittyPayload, BrokenOrOversizedCompressedDataFails) {
  std::vector<uint8_t> data(100000, 'a');
  auto zlib = deflateData(data, false);
  // Cut short at every length: must fail, never wait for more.
  for (size_t cut : {size_t(0), size_t(1), size_t(2), zlib.size() / 2, zlib.size() - 1}) {
    EXPECT_FALSE(decompressZlib(std::span(zlib.data(), cut))) << cut;
  }
  EXPECT_FALSE(decompressZlib(bytes("garbage that is not deflate")));
  EXPECT_FALSE(decompressKittyData(zlib, 'x'));
  EXPECT_EQ(decompressKittyData(bytes("as is"), std::nullopt), bytes("as is"));

  // 420 MiB of zeros compress to about 400 KiB; inflation stops at the limit.
  z_stream stream{};
  deflateInit2(&stream, 9, Z_DEFLATED, 15, 9, Z_DEFAULT_STRATEGY);
  std::vector<uint8_t> zeros(1 << 20), bomb;
  std::vector<uint8_t> out(1 << 16);
  for (int i = 0; i < 420; ++i) {
    stream.next_in = zeros.data();
    stream.avail_in = uInt(zeros.size());
    int flush = i == 419 ? Z_FINISH : Z_NO_FLUSH;
    do {
      stream.next_out = out.data();
      stream.avail_out = uInt(out.size());
      deflate(&stream, flush);
      bomb.insert(bomb.end(), out.data(), out.data() + (out.size() - stream.avail_out));
    } while (stream.avail_out == 0);
  }
  deflateEnd(&stream);
  EXPECT_FALSE(decompressZlib(bomb));
}

TEST(KittyPayload, ExpectedSizeFollowsFormatAndBounds) {
  EXPECT_EQ(kittyExpectedDataSize(rgbControl(32, 10, 2)), 80);
  EXPECT_EQ(kittyExpectedDataSize(rgbControl(24, 10, 2)), 60);
  EXPECT_FALSE(kittyExpectedDataSize(rgbControl(100, 10, 2)));
  EXPECT_FALSE(kittyExpectedDataSize(rgbControl(32, 10, 10001)));
}

TEST(KittyPayload, UnknownMediumIsUnsupported) {
  KittyGraphicsControl c;
  c.transmission = 'x';
  EXPECT_EQ(loadKittyPayload(c, span("AAAA")).errorMessage, KittyMessage::unsupportedTransmission);
  c.transmission = 'd';
  EXPECT_EQ(loadKittyPayload(c, span("")).errorMessage, KittyMessage::badPayload);
}

class KittyFilePayload : public ::testing::Test {
 protected:
  KittyPayloadResult load(const std::string& path, bool temporary, KittyGraphicsControl c = rgbControl(24, 2, 1)) {
    c.transmission = temporary ? 't' : 'f';
    return loadKittyPayload(c, span(base64(path)));
  }

  const ::testing::TemporaryFolder folder{"kitty-file-test"};
  const std::string dir = folder.path().string();
  std::vector<uint8_t> sixBytes{1, 2, 3, 4, 5, 6};
};

TEST_F(KittyFilePayload, RegularFilesAreReadWithOffsetAndSize) {
  std::string path = dir + "/image.rgb";
  writeFile(path, {9, 9, 1, 2, 3, 4, 5, 6, 7});
  auto c = rgbControl(24, 2, 1);
  c.dataOffset = 2;
  c.dataSize = 6;
  auto result = load(path, false, c);
  ASSERT_TRUE(result.payload) << (result.errorMessage ? *result.errorMessage : "");
  EXPECT_EQ(result.payload->bytes()[0], 1);
  EXPECT_TRUE(exists(path));  // a plain file is never removed
}

TEST_F(KittyFilePayload, OffsetsAtAndPastTheEnd) {
  std::string path = dir + "/hundred";
  writeFile(path, std::vector<uint8_t>(100, 1));
  EXPECT_EQ(readKittyFileData(path, 100, 0, false), std::vector<uint8_t>{});
  EXPECT_FALSE(readKittyFileData(path, 101, 0, false));
  EXPECT_FALSE(readKittyFileData(path, -1, 0, false));
  EXPECT_EQ(readKittyFileData(path, 90, 4, false)->size(), 4u);
}

TEST_F(KittyFilePayload, SystemTreesAndNonRegularFilesAreRefused) {
  EXPECT_EQ(load("/proc/self/status", false).errorMessage, KittyMessage::badPath);
  EXPECT_EQ(load("/dev/zero", false).errorMessage, KittyMessage::badPath);
  EXPECT_EQ(load("/sys/kernel/notes", false).errorMessage, KittyMessage::badPath);
  EXPECT_EQ(load(dir + "/missing", false).errorMessage, KittyMessage::badPath);
  // A link in a temporary place that points into /dev is judged by where it leads.
  std::string link = dir + "/tty-graphics-protocol-link";
  ASSERT_EQ(symlink("/dev/zero", link.c_str()), 0);
  EXPECT_EQ(load(link, true).errorMessage, KittyMessage::badPath);
  // A directory or FIFO resolves but is not a regular file.
  EXPECT_EQ(load(dir, false).errorMessage, KittyMessage::badPayload);
  std::string fifo = dir + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(load(fifo, false).errorMessage, KittyMessage::badPayload);
  std::string withZero("/tmp/a\0b", 8);
  EXPECT_EQ(load(withZero, false).errorMessage, KittyMessage::badPath);
  EXPECT_EQ(load("\xff\xfe", false).errorMessage, KittyMessage::badPath);
}

TEST_F(KittyFilePayload, TemporaryFileIsRemovedOnlyFromATempDirectoryWithTheMarker) {
  // Directly in /tmp with the marker: read and removed, even when the data then fails.
  std::string good = "/tmp/tty-graphics-protocol-kitty-test-" + std::to_string(getpid());
  writeFile(good, sixBytes);
  EXPECT_TRUE(load(good, true).payload);
  EXPECT_FALSE(exists(good));
  writeFile(good, {1, 2, 3});
  EXPECT_EQ(load(good, true).errorMessage, KittyMessage::badPayload);
  EXPECT_FALSE(exists(good));

  // Without the marker, or one directory further down, or with the marker only in a directory
  // name: refused and left in place.
  std::string unmarked = dir + "/plain-file";
  std::string nested = dir + "/tty-graphics-protocol-nested";
  std::string markedDir = dir + "/tty-graphics-protocol";
  ASSERT_TRUE(std::filesystem::create_directory(markedDir));
  std::string inMarkedDir = markedDir + "/image";
  for (const auto& path : {unmarked, nested, inMarkedDir}) {
    writeFile(path, sixBytes);
    EXPECT_EQ(load(path, true).errorMessage, KittyMessage::badTempPath) << path;
    EXPECT_TRUE(exists(path)) << path;
  }
}

TEST(KittyTempPath, OnlyDirectChildrenOfTemporaryDirectories) {
  EXPECT_TRUE(isKittyTempPath("/tmp/x"));
  EXPECT_TRUE(isKittyTempPath("/dev/shm/x"));
  EXPECT_FALSE(isKittyTempPath("/tmp/sub/x"));
  EXPECT_FALSE(isKittyTempPath("/tmpfoo/x"));
  EXPECT_FALSE(isKittyTempPath("/home/x"));
}

class KittySharedMemory : public ::testing::Test {
 protected:
  std::string create(const std::string& stem, const std::vector<uint8_t>& data) {
    std::string name = "/" + stem + "-" + std::to_string(getpid());
    int fd = shm_open(name.c_str(), O_CREAT | O_RDWR | O_TRUNC, 0600);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, data.data(), data.size()), ssize_t(data.size()));
    close(fd);
    names.push_back(name);
    return name;
  }
  bool objectExists(const std::string& name) {
    int fd = shm_open(name.c_str(), O_RDONLY, 0);
    if (fd >= 0) close(fd);
    return fd >= 0;
  }
  void TearDown() override {
    for (const auto& name : names) shm_unlink(name.c_str());
  }
  KittyPayloadResult load(const std::string& name, KittyGraphicsControl c) {
    c.transmission = 's';
    return loadKittyPayload(c, span(base64(name)));
  }
  std::vector<std::string> names;
};

TEST_F(KittySharedMemory, MarkedObjectIsReadAndRemoved) {
  auto name = create("tty-graphics-protocol-shm", {1, 2, 3, 4, 5, 6, 7, 8});
  auto result = load(name, rgbControl(32, 2, 1));
  ASSERT_TRUE(result.payload);
  EXPECT_EQ(result.payload->bytes().size(), 8u);
  EXPECT_FALSE(objectExists(name));
}

TEST_F(KittySharedMemory, UnmarkedObjectIsReadButKept) {
  auto name = create("kitty-shm-unmarked", {1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_TRUE(load(name, rgbControl(32, 2, 1)).payload);
  EXPECT_TRUE(objectExists(name));
}

TEST_F(KittySharedMemory, SliceEndsAtTheExpectedCount) {
  auto name = create("tty-graphics-protocol-slice", std::vector<uint8_t>(16, 7));
  auto c = rgbControl(32, 2, 1);
  c.dataOffset = 4;  // ends at 8 bytes: only 4 left, so the format check fails
  EXPECT_EQ(load(name, c).errorMessage, KittyMessage::badPayload);
  EXPECT_FALSE(objectExists(name));  // removed after a failed read too

  EXPECT_EQ(load("/no-such-object-kitty", rgbControl(32, 2, 1)).errorMessage, KittyMessage::badPayload);
  EXPECT_EQ(load(name, rgbControl(32, 0, 1)).errorMessage, KittyMessage::badPayload);  // no expected size
}
