#pragma once
// Helpers of the quillbox command tests: running the built command and writing bench files.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ChildProcess.h"

namespace quillbox::test {

using Json = nlohmann::json;

inline ChildResult Quillbox(std::vector<std::string> args, const EnvChanges& env = {}) {
  args.insert(args.begin(), QUILLBOX_CLI);
  return RunProcess(args, env);
}

// A bench file of `modules` under the test process's scratch prefix.
inline std::string BenchFile(const std::string& name, const Json& modules) {
  std::string path = ScratchPrefix() + name;
  std::ofstream(path) << Json{{"modules", modules}}.dump();
  return path;
}

// FILE.json of the recording `csv`, parsed over the whole file: nlohmann's parser takes a NUL
// byte for the end of its input, so a description followed by NULs would pass unseen.
inline Json Description(const std::string& csv) {
  const std::string text = ReadFile(csv + ".json");
  EXPECT_EQ(text.find('\0'), std::string::npos) << csv << ".json holds NUL bytes";
  return Json::parse(text);
}

// The members `expected` names, as `actual` has them (null where missing).
inline Json Pick(const Json& actual, const Json& expected) {
  Json picked = Json::object();
  for (const auto& item : expected.items())
    picked[item.key()] = actual.contains(item.key()) ? actual[item.key()] : Json();
  return picked;
}

}  // namespace quillbox::test
