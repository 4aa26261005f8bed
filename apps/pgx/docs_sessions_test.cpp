// The sessions that docs/server.md shows, run as the page shows them: each script the page writes with
// `$ cat NAME` is written to a folder, each `$ pgx ...` line runs this build's pgx there as a process of its
// own on the built-in bench, and what it prints (standard output and error, in order) must be what the page
// says it prints. So the page stays true as the server and pgx change.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "visa/testing/test_files.h"

namespace {

using pgx::visa::testing::TempDir;

// One command of a page and what the page says it prints.
struct Command {
  std::string line;  // "pgx run GPIB0::12::INSTR channel.pgx"
  std::string expected;
};

struct Page {
  std::vector<std::pair<std::string, std::string>> files;  // name, content
  std::vector<Command> commands;
};

// The files and commands of the page's code blocks.
Page ReadPage(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  Page page;
  bool in_block = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].starts_with("```")) {
      in_block = !in_block;
      continue;
    }
    if (!in_block) continue;
    if (lines[i].starts_with("$ cat ")) {
      const std::string name = lines[i].substr(6);
      std::string content;
      for (++i; i < lines.size() && !lines[i].empty() && !lines[i].starts_with("```"); ++i) {
        content += lines[i] + "\n";
      }
      page.files.emplace_back(name, content);
      --i;
      continue;
    }
    if (lines[i].starts_with("$ pgx ")) {
      Command command{lines[i].substr(2), ""};
      for (++i; i < lines.size() && !lines[i].starts_with("```") && !lines[i].starts_with("$ "); ++i) {
        command.expected += lines[i] + "\n";
      }
      while (command.expected.ends_with("\n\n")) command.expected.pop_back();
      page.commands.push_back(command);
      --i;
    }
  }
  return page;
}

// Runs a command line of the page (its "pgx" is this build's) in `folder`; what it prints.
std::string RunInFolder(const std::string& folder, const std::string& line) {
  const std::string shell = "cd '" + folder + "' && " + PGX_BINARY + line.substr(3) + " 2>&1";
  std::string printed;
  if (FILE* pipe = popen(shell.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) printed.append(buffer, n);
    pclose(pipe);
  }
  return printed;
}

TEST(DocsSessions, TheServerPagePrintsWhatPgxPrints) {
  const Page page = ReadPage(PGX_SOURCE_DIR "/docs/server.md");
  ASSERT_GE(page.commands.size(), 7u);
  TempDir folder;
  for (const auto& [name, content] : page.files) folder.write(name, content);
  for (const Command& command : page.commands) {
    EXPECT_EQ(RunInFolder(folder.path().string(), command.line), command.expected) << command.line;
  }
}

}  // namespace
