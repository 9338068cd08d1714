#include "chips/ChipCatalogue.h"

#include <cctype>

const std::array<ChipInfo, CHIP_COUNT> g_chipCatalogue = {{
    {"AT89S2051", 2048, 0, {0, 1, 2}, {0x1E, 0x23, 0xFF}},
    {"AT89S4051", 4096, 0, {0, 1, 2}, {0x1E, 0x43, 0xFF}},
    {"AT89S51", 4096, 0, {0x000, 0x100, 0x200}, {0x1E, 0x51, 0x06}},
    {"AT89S52", 8192, 0, {0x000, 0x100, 0x200}, {0x1E, 0x52, 0x06}},
    {"AT89S8253", 12288, 2048, {0x30, 0x31, -1}, {0x1E, 0x73, 0x00}},
}};

int32_t g_selectedChip = 0;

void FillChipCatalogue() {}

const ChipInfo& SelectedChipInfo() {
    const int index = (g_selectedChip >= 0 && g_selectedChip < CHIP_COUNT) ? g_selectedChip : 0;
    return g_chipCatalogue[static_cast<size_t>(index)];
}

void LoadSelectedChip(ISettingsStore& store) {
    int value = 0;
    if (!store.ReadInt("State", "SelectedChip", value) || value < 0 || value >= CHIP_COUNT)
        value = 0;
    g_selectedChip = value;
}

bool SaveSelectedChip(ISettingsStore& store) {
    return store.WriteInt("State", "SelectedChip", g_selectedChip);
}

std::string ChipNameFromSignature(const uint8_t signature[3]) {
    if (signature[0] == 0x1E && signature[1] == 0x52 && signature[2] == 0x06)
        return "Atmel AT89S52";
    if (signature[0] == 0x1E && signature[1] == 0x51 && signature[2] == 0x06)
        return "Atmel AT89S51";
    return "Unknown Chip";
}

std::string CatalogueNames() {
    std::string names;
    for (const ChipInfo& chip : g_chipCatalogue)
        names += (names.empty() ? "" : ", ") + std::string(chip.name);
    return names;
}

int FindChipBySignature(const uint8_t signature[3]) {
    for (int i = 0; i < CHIP_COUNT; ++i) {
        const ChipInfo& chip = g_chipCatalogue[static_cast<size_t>(i)];
        bool same = true;
        for (int k = 0; k < 3 && same; ++k)
            same = chip.signatureAddress[k] < 0 || chip.signature[k] == signature[k];
        if (same)
            return i;
    }
    return -1;
}

int FindChipByName(const std::string& name) {
    for (int i = 0; i < CHIP_COUNT; ++i) {
        const std::string candidate = g_chipCatalogue[static_cast<size_t>(i)].name;
        if (candidate.size() != name.size())
            continue;
        bool same = true;
        for (size_t k = 0; k < name.size() && same; ++k)
            same = std::toupper(static_cast<unsigned char>(name[k])) ==
                   std::toupper(static_cast<unsigned char>(candidate[k]));
        if (same)
            return i;
    }
    return -1;
}
