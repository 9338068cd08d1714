#pragma once
// The five supported chips, the selected one and its persistence.
// g_selectedChip is read and written on the user-interface thread only (or the one thread of a tool).

#include <array>
#include <cstdint>
#include <string>

#include "chips/Settings.h"

struct ChipInfo {
    const char* name;
    int32_t flashSize;           // bytes; the image bound while this chip is selected
    int32_t eepromSize;          // bytes, 0 where the chip has none
    int32_t signatureAddress[3]; // -1 marks a byte that is not read
    uint32_t signature[3];       // one byte value each
};

constexpr int CHIP_COUNT = 5;

// Constant data: complete before any view exists, so FillChipCatalogue has nothing left to do.
extern const std::array<ChipInfo, CHIP_COUNT> g_chipCatalogue;
extern int32_t g_selectedChip;

void FillChipCatalogue();
const ChipInfo& SelectedChipInfo();

// Restores g_selectedChip from "State"/"SelectedChip"; missing, unreadable or out of range selects 0.
void LoadSelectedChip(ISettingsStore& store);
// Stores g_selectedChip; returns false when the store could not be written.
bool SaveSelectedChip(ISettingsStore& store);

// Display name for the three signature bytes the programmer returned (independent of the catalogue).
std::string ChipNameFromSignature(const uint8_t signature[3]);

// Catalogue index of the chip whose signature bytes these are, -1 for none. Each of the five has a
// signature of its own; a byte the chip does not have (address -1) is not compared.
int FindChipBySignature(const uint8_t signature[3]);

// The five names in catalogue order, ", " between them.
std::string CatalogueNames();

// Catalogue index of a chip name, compared case-insensitively; -1 when there is none.
int FindChipByName(const std::string& name);
