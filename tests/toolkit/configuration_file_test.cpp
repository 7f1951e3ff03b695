// Where the configuration comes from, layer on layer, and the sample quorvane.ini that the Windows
// packages ship.
#include "toolkit/configuration_file.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStringList>

#include "tests/support/temp_dir.h"

namespace quorvane::toolkit {
namespace {

using testing::ScopedEnvironment;
using testing::TempDir;

#ifdef _WIN32
constexpr const char* kUserFolderVariable = "APPDATA";
#else
constexpr const char* kUserFolderVariable = "XDG_CONFIG_HOME";
#endif

class ConfigurationFileTest : public ::testing::Test {
protected:
    QString scratch(const char* name) const {
        return QDir(QString::fromStdString(dir_.path().string())).filePath(QString::fromUtf8(name));
    }

    int argc_ = 1;
    char name_[8] = "test";
    char* argv_[1] = {name_};
    QCoreApplication application_{argc_, argv_};
    TempDir dir_;

    // Writes `lines` (key=value, or comments) as the INI file `name` in the scratch directory.
    QString ini(const char* name, const char* lines) const {
        const QString file = scratch(name);
        QDir().mkpath(QFileInfo(file).path());
        QFile out(file);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Text)) << name;
        out.write(lines);
        return file;
    }
};

// Compiled defaults, then the file beside the program, then the user's own file (%APPDATA% on
// Windows, the roaming folder that follows the user; $XDG_CONFIG_HOME elsewhere), then the file
// QUORVANE_CONFIG names: each key from the last file that sets it.
TEST_F(ConfigurationFileTest, EachKeyComesFromTheLastFileThatSetsIt) {
    const ScopedEnvironment folder(kUserFolderVariable, scratch("user").toStdString());
    const ScopedEnvironment noNamedFile("QUORVANE_CONFIG", "");
    EXPECT_EQ(configurationFiles(scratch("program")), QStringList()) << "no file yet";

    const QString beside = ini("program/quorvane.ini",
                               "[Web]\nMakerHost=beside.test\nVendorHost=beside.test\n"
                               "[Mail]\nServer=beside.test:2525\n");
    const QString user = ini("user/Quorvane/quorvane.ini",
                             "[Web]\nMakerHost=user.test\n[Mail]\nMirror1=user.test\n");
    const QString named = ini("named.ini", "[Web]\nMakerHost=named.test\n");
    EXPECT_EQ(configurationFiles(scratch("program")), QStringList({beside, user}));
    const ScopedEnvironment namedFile("QUORVANE_CONFIG", named.toStdString());
    const QStringList files = configurationFiles(scratch("program"));
    EXPECT_EQ(files, QStringList({beside, user, named}));

    const Configuration read = loadConfiguration(files);
    const Configuration defaults;
    EXPECT_EQ(read.makerHost, "named.test");
    EXPECT_EQ(read.vendorHost, "beside.test");
    EXPECT_EQ(read.mailServer, "beside.test:2525");
    EXPECT_EQ(read.mirrors[0], "user.test");
    EXPECT_EQ(read.portalHost, defaults.portalHost);
    EXPECT_EQ(read.mirrors[1], defaults.mirrors[1]);

    // A named file that is missing, or a folder, leaves the layers below in force.
    const ScopedEnvironment missing("QUORVANE_CONFIG", scratch("none.ini").toStdString());
    EXPECT_EQ(configurationFiles(scratch("program")), QStringList({beside, user}));
    const ScopedEnvironment folderNamed("QUORVANE_CONFIG", scratch("user").toStdString());
    EXPECT_EQ(configurationFiles(scratch("program")), QStringList({beside, user}));
}

// The sample the packages put beside the program sets nothing: a user's own file still changes
// the mail server, though a standard user may not change the file in Program Files.
TEST_F(ConfigurationFileTest, SampleBesideTheProgramLeavesTheUsersFileInForce) {
    const ScopedEnvironment folder(kUserFolderVariable, scratch("user").toStdString());
    const ScopedEnvironment noNamedFile("QUORVANE_CONFIG", "");
    ASSERT_TRUE(QDir().mkpath(scratch("program")));
    ASSERT_TRUE(QFile::copy(QStringLiteral(QUORVANE_SAMPLE_INI), scratch("program/quorvane.ini")));
    ini("user/Quorvane/quorvane.ini", "[Mail]\nServer=mail.user.test:587\n");
    EXPECT_EQ(loadConfiguration(configurationFiles(scratch("program"))).mailServer,
              "mail.user.test:587");
}

#ifdef _WIN32
// Without the folder's variable there is no user file, rather than a path relative to the
// working directory.
TEST_F(ConfigurationFileTest, NoRoamingFolderMeansNoUserFile) {
    const ScopedEnvironment noNamedFile("QUORVANE_CONFIG", "");
    const ScopedEnvironment folder("APPDATA", "");
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(scratch("")));
    ini("Quorvane/quorvane.ini", "[Web]\nMakerHost=x.test\n");
    EXPECT_EQ(configurationFiles(scratch("program")), QStringList());
    QDir::setCurrent(previous);
}
#endif

// The shipped sample names every setting with its compiled default, commented out: with the
// comment marks taken off, it must read back as exactly the defaults and hold no unknown key.
TEST_F(ConfigurationFileTest, SampleFileShowsEveryDefaultAndChangesNothing) {
    const Configuration defaults;
    QFile sample(QStringLiteral(QUORVANE_SAMPLE_INI));
    ASSERT_TRUE(sample.open(QIODevice::ReadOnly | QIODevice::Text)) << QUORVANE_SAMPLE_INI;
    EXPECT_EQ(loadConfiguration(QStringList{sample.fileName()}).makerHost, defaults.makerHost)
        << "as shipped, the sample is all comments";

    QString text = QString::fromUtf8(sample.readAll());
    text.replace(
        QRegularExpression(QStringLiteral("^;(\\w+=)"), QRegularExpression::MultilineOption),
        QStringLiteral("\\1"));
    QFile uncommented(scratch("uncommented.ini"));
    ASSERT_TRUE(uncommented.open(QIODevice::WriteOnly | QIODevice::Text));
    uncommented.write(text.toUtf8());
    uncommented.close();

    const Configuration read = loadConfiguration(QStringList{uncommented.fileName()});
    EXPECT_EQ(read.makerHost, defaults.makerHost);
    EXPECT_EQ(read.vendorHost, defaults.vendorHost);
    EXPECT_EQ(read.portalHost, defaults.portalHost);
    EXPECT_EQ(read.mailServer, defaults.mailServer);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(read.mirrors[i], defaults.mirrors[i]) << "Mail/Mirror" << i + 1;
    }
    QStringList keys = QSettings(uncommented.fileName(), QSettings::IniFormat).allKeys();
    keys.sort();
    EXPECT_EQ(keys.join(u' ').toStdString(),
              "Mail/Mirror1 Mail/Mirror2 Mail/Mirror3 Mail/Server Web/MakerHost Web/PortalHost "
              "Web/VendorHost");
}

}  // namespace
}  // namespace quorvane::toolkit
