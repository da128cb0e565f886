// Stand-ins for the text-file delivery's seams (files, environment, text editor), so that a test
// sees what would be written and started without touching the disk or the desktop.
//
//   corvane::testsupport::FakeWindowSystem fake;
//   corvane::testsupport::FakeDelivery delivery;        // installs itself over the services in force
//   delivery.environment.variables[u"tmp"] = u"/fake/tmp";
//   ... run the command ...
//   EXPECT_EQ(delivery.files.written.at(path), expectedText);
//   EXPECT_EQ(delivery.editor.opened, std::vector<std::u16string>{path});
#pragma once

#include <map>
#include <string>
#include <vector>

#include "base/platform.h"

namespace corvane::testsupport {

class RecordingFileSystem final : public FileSystem {
 public:
  std::map<std::u16string, std::u16string> written;  // path -> text, the last write wins
  bool fail = false;  // refuse every write, as a folder that does not exist would

  void WriteTextFileReplacing(std::u16string_view path, std::u16string_view text) override {
    if (fail) throw AutomationError(err::kPathNotFound, u"Path not found");
    written[std::u16string(path)] = std::u16string(text);
  }
};

class FakeEnvironment final : public Environment {
 public:
  std::map<std::u16string, std::u16string> variables;

  std::u16string GetVariable(std::u16string_view name) override {
    const auto it = variables.find(std::u16string(name));
    return it == variables.end() ? std::u16string() : it->second;
  }
  std::u16string TempFolder() override { return u"/fallback/tmp"; }
};

class RecordingEditor final : public EditorLauncher {
 public:
  std::vector<std::u16string> opened;
  void OpenInEditor(std::u16string_view path) noexcept override { opened.emplace_back(path); }
};

// The three fakes, installed over the services in force for as long as it lives.
class FakeDelivery {
 public:
  FakeDelivery() : scope_(WithFakes()) {}

  RecordingFileSystem files;
  FakeEnvironment environment;
  RecordingEditor editor;

 private:
  PlatformServices WithFakes() {
    PlatformServices services = Services();
    services.files = &files;
    services.environment = &environment;
    services.editor = &editor;
    return services;
  }
  ScopedServices scope_;
};

}  // namespace corvane::testsupport
