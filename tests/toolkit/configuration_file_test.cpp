// Where the configuration comes from, and the sample quorvane.ini that the Windows packages ship.
#include "toolkit/configuration_file.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
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
};

// The user's own file: %APPDATA%\Quorvane\quorvane.ini on Windows (the roaming folder, which
// follows the user), $XDG_CONFIG_HOME/Quorvane/quorvane.ini elsewhere; QUORVANE_CONFIG wins.
TEST_F(ConfigurationFileTest, UserFileLiesInTheUsersConfigurationFolder) {
    const ScopedEnvironment noNamedFile("QUORVANE_CONFIG", "");
    const ScopedEnvironment folder(kUserFolderVariable, scratch("user").toStdString());
    EXPECT_EQ(configurationFilePath(), QString()) << "no file there yet";

    ASSERT_TRUE(QDir().mkpath(scratch("user/Quorvane")));
    QSettings(scratch("user/Quorvane/quorvane.ini"), QSettings::IniFormat)
        .setValue(QStringLiteral("Web/MakerHost"), QStringLiteral("maker.test"));
    EXPECT_EQ(QDir::cleanPath(configurationFilePath()),
              QDir::cleanPath(scratch("user/Quorvane/quorvane.ini")));
    EXPECT_EQ(loadConfiguration().makerHost, "maker.test");

    const ScopedEnvironment named("QUORVANE_CONFIG", scratch("named.ini").toStdString());
    EXPECT_EQ(configurationFilePath(), scratch("named.ini"));
}

#ifdef _WIN32
// Without the folder's variable there is no user file, rather than a path relative to the
// working directory.
TEST_F(ConfigurationFileTest, NoRoamingFolderMeansNoUserFile) {
    const ScopedEnvironment noNamedFile("QUORVANE_CONFIG", "");
    const ScopedEnvironment folder("APPDATA", "");
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(scratch("")));
    ASSERT_TRUE(QDir().mkpath(QStringLiteral("Quorvane")));
    QSettings(QStringLiteral("Quorvane/quorvane.ini"), QSettings::IniFormat)
        .setValue(QStringLiteral("Web/MakerHost"), QStringLiteral("x.test"));
    EXPECT_EQ(configurationFilePath(), QString());
    QDir::setCurrent(previous);
}
#endif

// The shipped sample names every setting with its compiled default, commented out: with the
// comment marks taken off, it must read back as exactly the defaults and hold no unknown key.
TEST_F(ConfigurationFileTest, SampleFileShowsEveryDefaultAndChangesNothing) {
    const Configuration defaults;
    QFile sample(QStringLiteral(QUORVANE_SAMPLE_INI));
    ASSERT_TRUE(sample.open(QIODevice::ReadOnly | QIODevice::Text)) << QUORVANE_SAMPLE_INI;
    EXPECT_EQ(loadConfiguration(sample.fileName()).makerHost, defaults.makerHost)
        << "as shipped, the sample is all comments";

    QString text = QString::fromUtf8(sample.readAll());
    text.replace(
        QRegularExpression(QStringLiteral("^;(\\w+=)"), QRegularExpression::MultilineOption),
        QStringLiteral("\\1"));
    QFile uncommented(scratch("uncommented.ini"));
    ASSERT_TRUE(uncommented.open(QIODevice::WriteOnly | QIODevice::Text));
    uncommented.write(text.toUtf8());
    uncommented.close();

    const Configuration read = loadConfiguration(uncommented.fileName());
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
