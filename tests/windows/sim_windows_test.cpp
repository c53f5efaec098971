// The simulated library's Windows conventions: its state folder under
// %LOCALAPPDATA% and flash files whose every store is in the file at once.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/sim_machine.hpp"
#include "tests/support/temp_dir.hpp"
#include <zenapi/zenapi_sim.h>

namespace {

namespace fs = std::filesystem;

const char *const kOneBoard = "[[system]]\n[[system.board]]\nname = \"s1\"\nkind = 36\nfeatures = [2]\n"
                              "flash_size = 0x100000\nsector_size = 0x10000\n";

// A machine described in a file, with no state folder of its own set.
class DefaultStateFolder : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("ZENAPI_SIM_CONFIG", machine_.config_path().c_str(), 1);
        ::unsetenv("ZENAPI_SIM_STATE_DIR");
        ::unsetenv("ZENAPI_SIM_TRACE");
        const char *local = std::getenv("LOCALAPPDATA");
        saved_local_ = local ? local : "";
    }
    void TearDown() override {
        if (saved_local_.empty())
            ::unsetenv("LOCALAPPDATA");
        else
            ::setenv("LOCALAPPDATA", saved_local_.c_str(), 1);
    }

    testsupport::SimMachine machine_{kOneBoard};
    std::string saved_local_;
};

TEST_F(DefaultStateFolder, IsZenapiSimInLocalAppData) {
    // A user name in another script, as %LOCALAPPDATA% holds it.
    const std::string local = machine_.folder() + u8"\\Jürgen Ясень\\AppData\\Local";
    fs::create_directories(fs::u8path(local));
    ::setenv("LOCALAPPDATA", local.c_str(), 1);
    ASSERT_EQ(ZenSimReload(), 0) << ZenSimLastError();
    EXPECT_EQ(std::string(ZenSimStateDir()), local + "\\zenapi-sim");
    EXPECT_TRUE(fs::is_regular_file(fs::u8path(local) / "zenapi-sim" / "s1.flash"));
}

TEST_F(DefaultStateFolder, WithoutLocalAppDataTheLoadSaysWhatToSet) {
    ::unsetenv("LOCALAPPDATA");
    EXPECT_NE(ZenSimReload(), 0);
    EXPECT_EQ(std::string(ZenSimLastError()),
              "no state folder for the flash files: set ZENAPI_SIM_STATE_DIR (or LOCALAPPDATA)");
}

TEST(WindowsFlashFile, EveryStoreIsInTheFileAtOnce) {
    testsupport::SimMachine machine(kOneBoard);
    machine.activate();
    const std::vector<uint8_t> bytes = {0x12, 0x34, 0x56, 0x78};
    ASSERT_EQ(ZenSimWriteFlashRaw(1, 1, 0x4242, bytes.data(), bytes.size()), 0);
    // Read through the file system while the library still has the file mapped.
    std::ifstream in(fs::u8path(machine.flash_path("s1")), std::ios::binary);
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(file.size(), 0x100000u);
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + 0x4242, file.begin() + 0x4246), bytes);
    EXPECT_EQ(file[0x4241], 0xFF);
    EXPECT_EQ(file[0x4246], 0xFF);
}

TEST(WindowsFlashFile, MachineFolderGoesWithItsMachine) {
    std::string folder;
    {
        testsupport::SimMachine machine(kOneBoard);
        machine.with_trace().activate();
        ASSERT_EQ(KorvelNumOfSystems(), 1u);
        folder = machine.folder();
    }
    // The mapped flash file and the open trace were let go of first.
    EXPECT_FALSE(fs::exists(fs::u8path(folder)));
    EXPECT_EQ(KorvelNumOfSystems(), 0u);
}

} // namespace
