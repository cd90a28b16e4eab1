// `pullwire edit`: the plug-in's real editor opened through the loaded library, driven like a
// user, the file written back (or left alone), and `pullwire run` on the result.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <chrono>
#include <sys/stat.h>

#include "host/command_file.h"
#include "host/edit_command.h"
#include "qt_driving.h"
#include "private_environment.h"
#include "tests/support/test_servers.h"

namespace pullwire {
namespace {

using namespace std::chrono_literals;

using testing::Child;

void Type(QWidget* editor, const char* name, const QString& text) {
  testing::TypeReplacing(Child<QLineEdit>(editor, name), text);
}

class EditCommandTest : public ::testing::Test {
 protected:
  host::HostOptions Library() const {
    host::HostOptions options;
    options.library = PULLWIRE_LIBRARY_PATH;
    return options;
  }

  testing::PrivateEnvironment env_;
  testing::TempDir dir_{"edit"};
};

// A cancel leaves the file alone; a save writes it back in its own mode, and it runs.
TEST_F(EditCommandTest, cancel_leaves_the_file_and_save_writes_what_runs) {
  testing::PyFtpdOptions server_options;
  server_options.low_port = true;
  testing::PyFtpd server(server_options);
  testing::WriteFile(server.root() / "reports" / "jan.csv", "a,b\n1,2\n");
  testing::WriteFile(server.root() / "reports" / "feb.csv", "a,b\n3,4\n");
  const auto local = dir_.path() / "in";
  std::filesystem::create_directory(local);
  // The file supplies the port: the editor's box takes at most 4 digits, the server's has 5.
  const auto file = dir_.path() / "reports.json";
  const std::string original =
      "{\"Host\": \"ftp.example.org\", \"Port\": " + std::to_string(server.port()) + "}";
  testing::WriteFile(file, original);
  ::chmod(file.c_str(), 0640);

  QString shown_host;
  const testing::ModalAnswer cancel([&](QWidget* editor) {
    shown_host = Child<QLineEdit>(editor, "txtHost")->text();
    Type(editor, "txtHost", "other.example.org");
    QTest::mouseClick(Child<QPushButton>(editor, "cmdCancel"), Qt::LeftButton);
  });
  EXPECT_EQ(host::EditCommandFile({file, {}, {}}, Library()), host::kEditCancelled);
  EXPECT_EQ(shown_host, "ftp.example.org") << "the editor opens on the file's command";
  EXPECT_EQ(testing::ReadFile(file), original);

  const testing::ModalAnswer save([&](QWidget* editor) {
    Type(editor, "txtHost", "127.0.0.1");
    Type(editor, "txtUsername", QString::fromStdString(server.user()));
    Type(editor, "txtPassword", QString::fromStdString(server.password()));
    Type(editor, "txtTimeout", "20");
    Type(editor, "txtRemoteDir", "/reports/");
    Type(editor, "txtLocalDir", QString::fromStdString(local.string()));
    Child<QComboBox>(editor, "cmbMode")->setCurrentIndex(1);
    Child<QCheckBox>(editor, "chkPASV")->setChecked(true);
    Child<QCheckBox>(editor, "chkProcesAll")->setChecked(true);
    // Straight from the last box to "&Ok": the click moves the focus, so the box is stored first.
    QTest::mouseClick(Child<QPushButton>(editor, "cmdSave"), Qt::LeftButton);
  });
  ASSERT_EQ(host::EditCommandFile({file, {}, {}}, Library()), host::kEditSaved);
  // The trailing separator of the remote folder is trimmed.
  EXPECT_EQ(host::ReadCommandFile(file).record,
            (host::CommandSlots{"127.0.0.1", server.user(), server.password(),
                                std::to_string(server.port()), "1", "20", "1", "/reports",
                                local.string(), "0", "1", "1", "0", "", "0", "", "", "0", "LOCAL",
                                "1", "0", "", "*", "0"}));
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);

  const auto run = testing::RunCommand(
      {PULLWIRE_HOST_PATH, "run", "--library", PULLWIRE_LIBRARY_PATH, file.string()}, 60s);
  ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("Number of files downloaded : 2"), std::string::npos) << run.out;
  EXPECT_EQ(testing::ReadFile(local / "jan.csv"), "a,b\n1,2\n");
  EXPECT_EQ(testing::ReadFile(local / "feb.csv"), "a,b\n3,4\n");
}

// A record the editor cannot take is refused before any window. A file is written so that it
// reads back, a new one private to its owner, never over a folder or into a missing one.
TEST_F(EditCommandTest, bad_records_are_refused_and_files_are_written_safely) {
  const auto file = dir_.path() / "cmd.json";
  // The array form passes the host untouched; Setup's decode refuses slot 4.
  const std::string bad = R"(["", "", "", "abc", "", "", "", "", "", "", "", "",
                             "", "", "", "", "", "", "", "", "", "", "", ""])";
  for (const std::string& text : {bad, std::string("[1, 2]")}) {
    testing::WriteFile(file, text);
    EXPECT_EQ(host::EditCommandFile({file, {}, {}}, Library()), host::kEditBadCommand) << text;
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(testing::ReadFile(file), text);
  }
  std::filesystem::remove(file);
  host::CommandSlots record = host::DefaultCommandFile().record;
  record[2] = "p\"a\\ss \xc3\xa9";  // quotes, a backslash and UTF-8 survive
  host::WriteCommandFile(file, record);
  EXPECT_EQ(host::ReadCommandFile(file).record, record);
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u) << "a new command file holds a password";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 1)
      << "no temporary file left";
  EXPECT_THROW(host::WriteCommandFile(dir_.path(), record), host::CommandFileError);
  EXPECT_TRUE(std::filesystem::is_directory(dir_.path()));
  EXPECT_THROW(host::WriteCommandFile(dir_.path() / "no" / "cmd.json", record),
               host::CommandFileError);
}

}  // namespace
}  // namespace pullwire
