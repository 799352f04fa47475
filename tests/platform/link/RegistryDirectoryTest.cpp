#include "platform/link/RegistryDirectory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/un.h>

#include "LinkTestSupport.h"
#include "platform/link/RenderServiceName.h"

namespace lumivane {
namespace {

using test::RegistryTest;

TEST_F(RegistryTest, CreatesThePrivateDirectoryUnderTheRuntimeDirectory) {
    Result<std::string> directory = RegistryDirectory::ensure();
    ASSERT_TRUE(directory.ok()) << directory.error();
    EXPECT_EQ(directory.value(), registryPath());
    struct stat info {};
    ASSERT_EQ(lstat(registryPath().c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(info.st_uid, geteuid());
    // A second look finds the same directory acceptable.
    EXPECT_TRUE(RegistryDirectory::ensure().ok());
    EXPECT_TRUE(RegistryDirectory::verify().ok());
}

TEST_F(RegistryTest, WithoutRuntimeDirectoryTheUsersTmpDirectoryIsUsed) {
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(RegistryDirectory::path(), "/tmp/lumivane-" + std::to_string(geteuid()));
    setenv("XDG_RUNTIME_DIR", "relative/dir", 1);
    EXPECT_EQ(RegistryDirectory::path(), "/tmp/lumivane-" + std::to_string(geteuid()));
    setenv("XDG_RUNTIME_DIR", "", 1);
    EXPECT_EQ(RegistryDirectory::path(), "/tmp/lumivane-" + std::to_string(geteuid()));
}

TEST_F(RegistryTest, RestrictiveUmaskStillGivesTheOwnerTheDirectory) {
    mode_t old = umask(0777);
    Result<std::string> directory = RegistryDirectory::ensure();
    umask(old);
    ASSERT_TRUE(directory.ok()) << directory.error();
    struct stat info {};
    ASSERT_EQ(lstat(registryPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(RegistryTest, SymbolicLinkIsRefusedEvenToAGoodDirectory) {
    std::string target = m_runtimeDir + "/elsewhere";
    ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
    ASSERT_EQ(symlink(target.c_str(), registryPath().c_str()), 0);
    Result<std::string> directory = RegistryDirectory::ensure();
    ASSERT_FALSE(directory.ok());
    EXPECT_NE(directory.error().find("symbolic link"), std::string::npos) << directory.error();
    EXPECT_FALSE(LinkServer::create("net.orbek.Lumivane.1.1").ok());
}

TEST_F(RegistryTest, DirectoryOthersOrGroupCanEnterIsRefused) {
    for (mode_t mode : {0701, 0710, 0755, 0777}) {
        ASSERT_EQ(mkdir(registryPath().c_str(), 0700), 0);
        ASSERT_EQ(chmod(registryPath().c_str(), mode), 0);
        Result<std::string> directory = RegistryDirectory::ensure();
        ASSERT_FALSE(directory.ok()) << std::oct << mode;
        EXPECT_NE(directory.error().find("open to group or others"), std::string::npos);
        EXPECT_FALSE(RegistryDirectory::verify().ok());
        ASSERT_EQ(rmdir(registryPath().c_str()), 0);
    }
}

TEST_F(RegistryTest, DirectoryOfAnotherUserIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give a directory away";
    ASSERT_EQ(mkdir(registryPath().c_str(), 0700), 0);
    ASSERT_EQ(chown(registryPath().c_str(), 65534, 65534), 0);
    Result<std::string> directory = RegistryDirectory::ensure();
    ASSERT_FALSE(directory.ok());
    EXPECT_NE(directory.error().find("owned by user 65534"), std::string::npos)
        << directory.error();
}

TEST_F(RegistryTest, PlainFileInThePlaceIsRefused) {
    FILE* file = fopen(registryPath().c_str(), "w");
    ASSERT_NE(file, nullptr);
    fclose(file);
    EXPECT_FALSE(RegistryDirectory::ensure().ok());
}

TEST_F(RegistryTest, NamesThatAreNotPlainFileNamesAreRefused) {
    std::string longest(sizeof(sockaddr_un::sun_path) - registryPath().size() - 2, 'n');
    EXPECT_TRUE(RegistryDirectory::socketPath(longest).ok());
    for (const std::string& name :
         {std::string(), std::string("."), std::string(".."), std::string("a/b"),
          std::string("../escape"), std::string("x..y"), std::string("/etc/passwd"),
          std::string("a\nb"), std::string("a\0b", 3), longest + "n"}) {
        Result<std::string> path = RegistryDirectory::socketPath(name);
        EXPECT_FALSE(path.ok()) << name;
    }
    EXPECT_EQ(RegistryDirectory::socketPath("net.orbek.Lumivane.1f.2a").value(),
              registryPath() + "/net.orbek.Lumivane.1f.2a");
}

bool isLowercaseHex(const std::string& text) {
    return !text.empty() && text[0] != '0' &&
           text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

TEST(RenderServiceName, CarriesProcessIdAndClockInLowercaseHex) {
    std::string name = makeRenderServiceName();
    const std::string prefix = "net.orbek.Lumivane.";
    ASSERT_EQ(name.rfind(prefix, 0), 0u) << name;
    std::string rest = name.substr(prefix.size());
    size_t dot = rest.find('.');
    ASSERT_NE(dot, std::string::npos) << name;
    std::string pid = rest.substr(0, dot), clock = rest.substr(dot + 1);
    EXPECT_TRUE(isLowercaseHex(pid)) << name;
    EXPECT_TRUE(isLowercaseHex(clock)) << name;
    EXPECT_EQ(std::stoul(pid, nullptr, 16), static_cast<unsigned long>(getpid()));
}

TEST(RenderServiceName, NamesMadeInARowAllDifferAndRise) {
    std::vector<unsigned long long> clocks;
    for (int i = 0; i < 1000; ++i) {
        std::string name = makeRenderServiceName();
        clocks.push_back(std::stoull(name.substr(name.rfind('.') + 1), nullptr, 16));
    }
    for (size_t i = 1; i < clocks.size(); ++i) ASSERT_GT(clocks[i], clocks[i - 1]);
}

}  // namespace
}  // namespace lumivane
