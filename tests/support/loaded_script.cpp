#include "support/loaded_script.h"

#include "common/messages.h"
#include "script/script.h"

void ReleaseEntries(EntryRecord* table, int* count) {
    for (int i = 0; i < *count; i++) {
        FreeBlock(table[i].First);
        FreeBlock(table[i].Second);
        FreeBlock(table[i].Third);
    }
    *count = 0;
}

void ReleaseLoadedScript(EntryRecord* files, EntryRecord* links) {
    for (const ScriptKeyDef* key = MainKeyTable; key->Name; key++) {
        FreeBlock(::Setup.*(key->Field));
        ::Setup.*(key->Field) = nullptr;
    }
    FreeBlock(::Setup.DeviceTypeText);
    ::Setup.DeviceTypeText = nullptr;
    ReleaseEntries(files, &::Setup.FileCount);
    ReleaseEntries(links, &::Setup.LinkCount);
}

void UseEntryTables(EntryRecord* files, EntryRecord* links) {
    ::Setup.FileTable = files;
    ::Setup.LinkTable = links;
    ::Setup.FileCount = 0;
    ::Setup.LinkCount = 0;
}

void FinishWithScript(EntryRecord* files, EntryRecord* links) {
    ReleaseLoadedScript(files, links);
    ::Setup.FileTable = nullptr;
    ::Setup.LinkTable = nullptr;
    ::Setup.WorkDir = nullptr;
}
