// What the tests of the NT device install and removal share: the real
// system.ini and control.ini of the prefix's Windows directory (saved and put
// back), known starting lists, INF files in a scratch folder, the sample
// driver, and no leftover device instances.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/messages.h"
#include "common/setup_state.h"
#include "device/driver_lists.h"
#include "support/device_instances.h"
#include "support/prefix.h"
#include "support/sample_driver_files.h"

namespace nt_device {

const char DeviceName[] = "Setup Test Sound Device";
const char DriverFile[] = "setuptst.drv";
const char TypicalLine[] = "setuptst = 1:setuptst.drv, \"wave,mixer\", \"Setup Test Sound Device\", , ,";

// The entries of [Drivers32], [Userinstallable.drivers] and [drivers.desc],
// indexed by DriverListIndex, each in file order.
typedef std::vector<std::vector<std::string>> Lists;

inline Lists ReadLists() {
    return Lists{profile_files::SectionLines("system.ini", "Drivers32"),
                 profile_files::SectionLines("control.ini", "Userinstallable.drivers"),
                 profile_files::SectionLines("control.ini", "drivers.desc")};
}

inline bool WriteLists(const Lists& lists) {
    return profile_files::SetSection("system.ini", "Drivers32", lists[Drivers32List]) &&
           profile_files::SetSection("control.ini", "Userinstallable.drivers", lists[UserInstallableList]) &&
           profile_files::SetSection("control.ini", "drivers.desc", lists[DescriptionList]);
}

// The codec entries a system keeps in [Drivers32]; no wave or mixer slot.
inline std::vector<std::string> CodecEntries() {
    return {"msacm.imaadpcm=imaadp32.acm", "vidc.mrle=msrle32.dll", "wavemapper=msacm32.drv"};
}

inline std::vector<std::string> Plus(std::vector<std::string> lines, const std::vector<std::string>& more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

class NtDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ForgetTypeText();
        ASSERT_TRUE(WriteLists(Lists{CodecEntries(), {}, {}}));
    }
    void TearDown() override { ForgetTypeText(); }

    static void ForgetTypeText() {
        FreeBlock(::Setup.DeviceTypeText);
        ::Setup.DeviceTypeText = nullptr;
    }

    // device.inf, whose [Installable.Drivers] holds these lines.
    std::string WriteInf(const std::vector<std::string>& lines) {
        std::string text = "[Version]\r\nSignature=\"$CHICAGO$\"\r\n\r\n[Installable.Drivers]\r\n";
        for (const std::string& line : lines)
            text += line + "\r\n";
        EXPECT_TRUE(scratch_.Write("device.inf", text));
        return scratch_.Join("device.inf");
    }

    std::string RecordFile() const { return scratch_.Join("record.txt"); }

    profile_files::Guard profiles_{{"system.ini", "control.ini"}};
    fixture::ScratchDir scratch_;
    device_instances::Cleanup instances_{{DeviceName}};
};

}  // namespace nt_device
