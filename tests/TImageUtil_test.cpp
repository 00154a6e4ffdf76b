#include "TImageUtil.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "Base64.h"
#include "Json.h"
#include "TImageCache.h"
#include "TestFolder.h"

namespace kx {
namespace {

const std::string kPng = std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16);
const std::string kGif = "GIF89a\x01\x00\x01\x00";

// Resolves a text source; "mime" of the answer, or "error: ..." for a failure.
std::string Mime(const Value& source, const char* type = "auto", TImageCache* cache = nullptr) {
  const Value d = TImageUtil().Resolver(source, Value(type), cache);
  EXPECT_EQ(d.Len(), 3u);
  if (!d.Get("error").Str().empty()) {
    EXPECT_EQ(d.Get("mime").Str(), "");
    EXPECT_EQ(d.Get("dataUri").Str(), "");
    return "error: " + std::string(d.Get("error").Str());
  }
  return std::string(d.Get("mime").Str());
}

std::string DataUri(const Value& source, const char* type = "auto") {
  return std::string(TImageUtil().Resolver(source, Value(type)).Get("dataUri").Str());
}

const char* kFailure = "error: Imagen no disponible";

TEST(TImageUtil, DescriptorKeysInOrder) {
  EXPECT_EQ(JsonEncode(TImageUtil().Resolver(Value(""), Value())),
            R"({"mime":"","dataUri":"","error":"Imagen no disponible"})");
  EXPECT_EQ(JsonEncode(TImageUtil().Resolver(Value("data:image/png;base64,QUJD"), Value("datos"))),
            R"({"mime":"image/png","dataUri":"data:image/png;base64,QUJD","error":""})");
}

TEST(TImageUtil, DataUriStrictness) {
  struct Row {
    const char* source;
    const char* mime;     // or the failure
    const char* dataUri;  // when accepted
  };
  const Row rows[] = {
      {"data:image/png;base64,iVBORw0KGgo=", "image/png", "data:image/png;base64,iVBORw0KGgo="},
      {"data:IMAGE/PNG;BASE64,QUJD", "image/png", "data:image/png;base64,QUJD"},
      {"data:image/png;base64,QUJ", "image/png", "data:image/png;base64,QUI="},  // written anew
      {"data:image/png;base64,QQ==", "image/png", "data:image/png;base64,QQ=="},
      {"data:image/svg+xml;base64,PHN2Zz4=", "image/svg+xml", "data:image/svg+xml;base64,PHN2Zz4="},
      {"data:image/x-icon.v2;base64,QUJD", "image/x-icon.v2", "data:image/x-icon.v2;base64,QUJD"},
      // The declared type holds whatever the bytes are.
      {"data:image/gif;base64,iVBORw0KGgo=", "image/gif", "data:image/gif;base64,iVBORw0KGgo="},
      {"data:image/png;base64,Q", kFailure, ""},
      {"data:image/png;base64,Q==", kFailure, ""},  // padding around no whole byte
      {"data:image/png;base64,==", kFailure, ""},   // padding alone: an image of no bytes
      {"data:image/png;base64,Q=JD", kFailure, ""},
      {"data:image/png;base64,QU=D", kFailure, ""},
      {"data:image/png;base64,QUJD\n", kFailure, ""},
      {"data:image/png;base64,", kFailure, ""},
      {"data:image/;base64,QUJD", kFailure, ""},
      {"data:image/png x;base64,QUJD", kFailure, ""},
      {"data:image/png;charset=x;base64,QUJD", kFailure, ""},
      {"data:text/plain;base64,QUJD", kFailure, ""},
      {"data:image/png,QUJD", kFailure, ""},
      {" data:image/png;base64,QUJD", kFailure, ""},
  };
  for (const Row& r : rows) {
    for (const char* type : {"datos", "auto"}) {
      EXPECT_EQ(Mime(Value(r.source), type), r.mime) << r.source << " " << type;
      EXPECT_EQ(DataUri(Value(r.source), type), r.dataUri) << r.source << " " << type;
    }
  }
}

TEST(TImageUtil, SourcesThatAreNoImage) {
  const Value rows[] = {Value(),
                        Value(5),
                        Value(true),
                        Value(""),
                        Value("   "),
                        Value::NewList({Value("logo.png")}),
                        Value("no such file.png x")};
  for (const Value& v : rows) EXPECT_EQ(Mime(v), kFailure) << JsonEncode(v);
}

TEST(TImageUtil, RawBytes) {
  // Raw PNG bytes hold CR LF and NUL: never a file name, no data URI, and the
  // signature tells the type.
  const std::string png = kPng + "rest of the image";
  EXPECT_EQ(Mime(Value(png)), "image/png");
  EXPECT_EQ(DataUri(Value(png)), "data:image/png;base64," + Base64Encode(png));
  EXPECT_EQ(Mime(Value(png), "datos"), "image/png");
  EXPECT_EQ(Mime(Value("\xFF\xD8\xFF\xE0 jpeg"), "datos"), "image/jpeg");
  EXPECT_EQ(Mime(Value(kGif)), "image/gif");
  EXPECT_EQ(Mime(Value(std::string("RIFF\x10\0\0\0WEBPVP8 ", 16))), "image/webp");
  EXPECT_EQ(Mime(Value(std::string("RIFF\x10\0\0\0WEB", 11))), kFailure);  // too short
  EXPECT_EQ(Mime(Value("GIF88a......")), kFailure);
}

class ImageFiles : public ::testing::Test {
 protected:
  void Write(const std::string& name, const std::string& content) {
    std::filesystem::path p(name);
    if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
    dir.Write(name, content);
  }
  TempDir dir;
  WorkingFolder cwd{dir.path()};
};

TEST_F(ImageFiles, SignatureThenExtension) {
  Write("logo.png", kPng);
  Write("logo.bin", kPng);
  Write("other.png", "not an image");
  Write("other.xyz", "not an image");
  Write("photo.JPG", "jpeg bytes?");
  Write("photo.jpeg", "jpeg bytes?");
  Write("anim.gif", "x");
  Write("pic.webp", "x");
  Write("gif.bin", kGif);
  Write("dir.png/file", "x");  // the extension is read from the whole path
  Write("noext", "x");
  struct Row {
    const char* source;
    const char* mime;
  };
  const Row rows[] = {
      {"logo.png", "image/png"},  {"logo.bin", "image/png"},   {"other.png", "image/png"},
      {"other.xyz", kFailure},    {"photo.JPG", "image/jpeg"}, {"photo.jpeg", "image/jpeg"},
      {"anim.gif", "image/gif"},  {"pic.webp", "image/webp"},  {"gif.bin", "image/gif"},
      {"dir.png/file", kFailure}, {"noext", kFailure},         {"  logo.png  ", "image/png"},
      {"missing.png", kFailure},
  };
  for (const Row& r : rows) EXPECT_EQ(Mime(Value(r.source)), r.mime) << r.source;
  EXPECT_EQ(DataUri(Value("logo.png")), "data:image/png;base64," + Base64Encode(kPng));
  // The file is the whole answer: a file that is no image does not go on to the raw bytes.
  EXPECT_EQ(Mime(Value("other.xyz")), kFailure);
  // "datos" never looks a file up: the name itself is the (unrecognised) data.
  EXPECT_EQ(Mime(Value("logo.png"), "datos"), kFailure);
  EXPECT_EQ(Mime(Value("logo.png"), " DATOS "), kFailure);
}

TEST_F(ImageFiles, PublicFolderFallback) {
  Write("public/img/logo.png", kPng);
  Write("img/shared.gif", kGif);
  EXPECT_EQ(Mime(Value("img/logo.png")), "image/png");
  // A "public/" prefix in any case, with either slash, is also tried without it.
  EXPECT_EQ(Mime(Value("public/img/shared.gif")), "image/gif");
  EXPECT_EQ(Mime(Value("PUBLIC\\img/shared.gif")), "image/gif");
  EXPECT_EQ(Mime(Value("Public/img/logo.png")), "image/png");  // as public/img/logo.png
  EXPECT_EQ(Mime(Value("public/")), kFailure);
}

TEST_F(ImageFiles, WhatCountsAsNoFile) {
  // Each name below exists but is no usable image file; the good copy under
  // "public" shows that the lookup went on past it.
  Write("empty.png", "");
  std::filesystem::create_directory("folder.png");
  ASSERT_EQ(::mkfifo("pipe.png", 0600), 0);  // opening it must not block
  {
    const int fd = ::open("huge.png", O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(TImageUtil::kMaxBytesArchivo + 1)), 0);
    ::close(fd);
  }
  Write("locked.png", "locked");
  ::chmod("locked.png", 0);
  const bool root = ::geteuid() == 0;  // root reads any file
  TImageCache cache;
  for (const char* name : {"empty.png", "folder.png", "pipe.png", "huge.png", "locked.png"}) {
    Write(std::string("public/") + name, kGif);
    if (std::string(name) == "locked.png" && root) continue;
    EXPECT_EQ(Mime(Value(name)), "image/gif") << name;
    EXPECT_EQ(Mime(Value(name), "auto", &cache), "image/gif") << name << " with a cache";
  }
}

TEST_F(ImageFiles, LineBreaksAndNulsAreNeverFileNames) {
  Write("logo.png", kGif);
  Write("a\nb.png", kGif);
  Write("c\rd.png", kGif);
  // Read as names these would open logo.png or the files above; as data they are no image.
  EXPECT_EQ(Mime(Value(std::string("logo.png\0.txt", 13))), kFailure);
  EXPECT_EQ(Mime(Value("a\nb.png")), kFailure);
  EXPECT_EQ(Mime(Value("c\rd.png")), kFailure);
  EXPECT_EQ(Mime(Value("lo\ngo.png\n")), kFailure);
}

// A value read from a multi-line field: the name is what lies between its
// blanks, tabs and line breaks, and only a break inside it makes it data.
TEST_F(ImageFiles, ANameIsTrimmedBeforeItsLineBreaksAreTested) {
  Write("logo.png", kGif);
  Write("img/logo.png", kGif);
  const std::pair<std::string, std::string> cases[] = {
      {"\nlogo.png", "image/gif"},
      {"logo.png\n", "image/gif"},
      {"\r\n\t logo.png \t\r\n", "image/gif"},
      {"\nimg/logo.png\r\n", "image/gif"},
      {"\npublic/img/logo.png", "image/gif"},
      {"\nimg/\nlogo.png", kFailure},
      {std::string("\nlogo.png\0", 10), kFailure},
  };
  for (const auto& [source, mime] : cases) EXPECT_EQ(Mime(Value(source)), mime) << source;
  // Raw image bytes still count as data, whatever blanks they begin or end with.
  EXPECT_EQ(Mime(Value("\n" + kPng)), kFailure);
  EXPECT_EQ(Mime(Value(kPng + "\n")), "image/png");
}

TEST_F(ImageFiles, FileFirstUnlessDatos) {
  // A file that happens to carry a data URI's name.
  Write("data:image/png;base64,QUJD", kGif);
  EXPECT_EQ(Mime(Value("data:image/png;base64,QUJD")), "image/gif");
  EXPECT_EQ(Mime(Value("data:image/png;base64,QUJD"), "datos"), "image/png");
}

TEST_F(ImageFiles, ACacheReadsAFileOncePerState) {
  TImageCache cache;
  Write("logo.png", kPng);
  const Value first = TImageUtil().Resolver(Value("logo.png"), Value(), &cache);
  const Value again = TImageUtil().Resolver(Value("logo.png"), Value(), &cache);
  EXPECT_EQ(cache.Entradas(), 1u);
  EXPECT_EQ(JsonEncode(again), JsonEncode(first));
  EXPECT_TRUE(again.Get("dataUri").SameRef(first.Get("dataUri")));  // one shared text
  EXPECT_FALSE(again.SameRef(first));                               // a descriptor of its own

  // Another size (or another modification time) is another state: read anew.
  Write("logo.png", kGif);
  EXPECT_EQ(Mime(Value("logo.png"), "auto", &cache), "image/gif");
  EXPECT_EQ(cache.Entradas(), 2u);
  // A file that is no image is kept too, so it is not read again either.
  Write("other.txt", "text");
  EXPECT_EQ(Mime(Value("other.txt"), "auto", &cache), kFailure);
  EXPECT_EQ(cache.Entradas(), 3u);
  // A kept file that can no longer be read is no file.
  if (::geteuid() != 0) {
    ::chmod("logo.png", 0);
    EXPECT_EQ(Mime(Value("logo.png"), "auto", &cache), kFailure);
  }
}

}  // namespace
}  // namespace kx
