// The backup page's connection figures against the real server: attachments
// held by other programs, a main database that cannot be attached, and the
// computers registered in USUARIOLOGADO.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/process_outcome.h"
#include "support/firebird_fixture.h"
#include "support/site_builder.h"
#include "support/temp_dir.h"

namespace korva {
namespace {

using testing::Isql;
using testing::TempDir;

// Another program attached to a database: isql, connected and waiting for
// more input. A shell command after the connection says that it is attached.
class HeldAttachment {
 public:
  explicit HeldAttachment(const std::string& database) {
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
    if ((pid_ = ::fork()) == 0) {
      ::dup2(in[0], STDIN_FILENO);
      ::dup2(out[1], STDOUT_FILENO);
      ::dup2(out[1], STDERR_FILENO);
      ::execlp("isql-fb", "isql-fb", "-q", "-b", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    input_ = in[1];
    output_ = out[0];
    const std::string connect =
        "CONNECT '" + database + "' USER 'KORVA' PASSWORD 'ravelund';\n" + "SHELL echo ATTACHED;\n";
    [[maybe_unused]] const ssize_t n = ::write(input_, connect.data(), connect.size());
    for (char c; said.find('\n') == std::string::npos && ::read(output_, &c, 1) == 1;) said += c;
  }
  // End of input: isql detaches and ends.
  ~HeldAttachment() {
    ::close(input_);
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    ::close(output_);
  }
  std::string said;  // "ATTACHED\n", and nothing else, once attached

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
};

// What the action writes to this process's standard error.
std::string StandardErrorOf(const std::function<void()>& action) {
  const TempDir dir;
  const int saved = ::dup(STDERR_FILENO);
  const int file = ::open(dir.File("stderr").c_str(), O_WRONLY | O_CREAT, 0600);
  ::dup2(file, STDERR_FILENO);
  ::close(file);
  action();
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  return testing::ReadBytes(dir.File("stderr"));
}

class ConnectedUsers : public ::testing::Test {
 protected:
  void SetUp() override {
    site = testing::BuildSite(dir.Path());
    s = std::make_unique<testing::SiteSession>(site.folder);
    s->main.Open();
    s->users.Open();
    s->users.SetStatementObserver([this](std::string_view sql) {
      sent.emplace_back(sql);
      busyAtQuery = s->shell.busyCursor;
    });
    // Stale figures, so that every refresh shows.
    s->form.StTxtNumUsers.SetText("stale");
    s->form.StTxtUsuariosConectados.SetText("stale");
    s->form.MmComputadoresConectados.SetLines({"STALE"});
  }
  // The handler with the window's general error display around it; what it
  // wrote to standard error.
  std::string Refresh() {
    platform::SetExitStatus(99);
    return StandardErrorOf(
        [this] { s->principal.Dispatch([this] { s->principal.BitBtn2Click(); }); });
  }
  void LogIn(const std::vector<std::string>& computers) {
    std::string sql = "DELETE FROM USUARIOLOGADO;\n";
    for (const std::string& c : computers)
      sql += "INSERT INTO USUARIOLOGADO (COMPUTADOR) VALUES (" + c + ");\n";
    Isql(site.usersDatabase, sql + "COMMIT;");
  }
  const std::string& NumUsers() { return s->form.StTxtNumUsers.Text(); }

  TempDir dir;
  testing::Site site;
  std::unique_ptr<testing::SiteSession> s;
  std::vector<std::string> sent;
  bool busyAtQuery = false;
};

TEST_F(ConnectedUsers, AttachmentsOtherThanTheUpdatersOwnAreCounted) {
  EXPECT_EQ(Refresh(), "");
  EXPECT_EQ(NumUsers(), "0");
  EXPECT_EQ(platform::ExitStatus(), 1);  // its own two attachments are more than one
  EXPECT_EQ(sent, std::vector<std::string>{"SELECT COUNT(*), COMPUTADOR FROM USUARIOLOGADO "
                                           "GROUP BY COMPUTADOR ORDER BY COMPUTADOR"});
  EXPECT_TRUE(busyAtQuery);
  EXPECT_FALSE(s->shell.busyCursor);

  s->main.Close();  // only the count's own attachment is left
  Refresh();
  EXPECT_EQ(NumUsers(), "-1");
  EXPECT_EQ(platform::ExitStatus(), 0);
  s->main.Open();

  const HeldAttachment first(site.mainDatabase);
  const HeldAttachment second(site.mainDatabase);
  const HeldAttachment users(site.usersDatabase);  // not one of the main database's
  for (const HeldAttachment* held : {&first, &second, &users}) ASSERT_EQ(held->said, "ATTACHED\n");
  EXPECT_EQ(Refresh(), "");
  EXPECT_EQ(NumUsers(), "2");
  EXPECT_TRUE(s->shell.messages.empty());
}

TEST_F(ConnectedUsers, ARefusedAttachmentGoesToStandardErrorAndShowsNoFigure) {
  LogIn({"'CAIXA-01'"});
  db::ParameterList params = s->main.Params();
  const std::string missing = site.folder + "/dados/NAOEXISTE.FDB";
  for (std::string& line : params)
    if (line.rfind("Database=", 0) == 0) line = "Database=localhost/3050:" + missing;
  s->main.SetParams(params);

  const std::string text = Refresh();
  EXPECT_NE(text.find(missing), std::string::npos) << text;
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  EXPECT_EQ(text.find('\n'), text.find("\r\n") + 1) << "lines end with CR LF";
  EXPECT_EQ(platform::ExitStatus(), 2);
  EXPECT_TRUE(s->shell.messages.empty());
  EXPECT_EQ(NumUsers(), "?");
  EXPECT_EQ(s->form.MmComputadoresConectados.Lines(), std::vector<std::string>{"CAIXA-01"});
  EXPECT_EQ(s->form.StTxtUsuariosConectados.Text(), "1");
  EXPECT_FALSE(s->shell.busyCursor);
}

TEST_F(ConnectedUsers, ComputersAreListedOnceEachInOrder) {
  const struct {
    std::vector<std::string> loggedIn;  // SQL values
    std::vector<std::string> lines;
  } cases[] = {
      {{"'B'", "'A'", "'A'"}, {"A", "B"}},
      {{}, {}},
      {{"'GERÊNCIA'", "NULL"}, {"", "GERÊNCIA"}},
  };
  for (const auto& c : cases) {
    LogIn(c.loggedIn);
    Refresh();
    EXPECT_EQ(s->form.MmComputadoresConectados.Lines(), c.lines);
    EXPECT_EQ(s->form.StTxtUsuariosConectados.Text(), std::to_string(c.lines.size()));
  }
  EXPECT_TRUE(s->shell.messages.empty());
}

TEST_F(ConnectedUsers, AFailedComputersQueryReachesTheErrorDisplayWithThePointerRestored) {
  Isql(site.usersDatabase, "DROP TABLE USUARIOLOGADO;\nCOMMIT;");
  Refresh();
  ASSERT_EQ(s->shell.messages.size(), 1u);
  EXPECT_EQ(s->shell.messages[0].icon, MsgIcon::Error);
  EXPECT_NE(s->shell.messages[0].text.find("USUARIOLOGADO"), std::string::npos);
  EXPECT_FALSE(s->shell.busyCursor);
  EXPECT_EQ(NumUsers(), "0");
  EXPECT_EQ(s->form.MmComputadoresConectados.Lines(), std::vector<std::string>{"STALE"});
}

}  // namespace
}  // namespace korva
