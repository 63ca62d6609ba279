#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "registers/event_bits.h"
#include "status/active_lists.h"

namespace {

// Events block in host form from the registers as they come off the wire
// (register 256 first): header words byte-swapped, event bits group by group.
std::vector<uint8_t> block_from_registers(int layout, const std::vector<std::pair<int, uint16_t>>& registers)
{
    std::vector<uint8_t> block(events_block_size(layout), 0);
    for (auto [reg, value] : registers) {
        size_t at = static_cast<size_t>(reg - 256) * 2;
        block[at] = static_cast<uint8_t>(value >> 8);
        block[at + 1] = static_cast<uint8_t>(value & 0xFF);
    }
    for (size_t at = 0; at < kEventBitsOffset; at += 2)
        std::swap(block[at], block[at + 1]);
    event_bits_convert(block.data() + kEventBitsOffset, layout);
    return block;
}

struct Masks {
    std::array<std::array<uint8_t, 56>, kActiveListCount> bytes{};
    void select(int list, int code) { bytes[list][code / 8] |= static_cast<uint8_t>(1u << (code % 8)); }
    std::array<std::span<const uint8_t>, kActiveListCount> spans(int layout) const
    {
        std::array<std::span<const uint8_t>, kActiveListCount> out;
        for (int k = 0; k < kActiveListCount; ++k)
            out[k] = std::span<const uint8_t>(bytes[k].data(), event_bits_bytes(layout));
        return out;
    }
};

using Rows = std::vector<std::string>;

}  // namespace

TEST(ActiveLists, ControllerAlarmInMaskOneGoesToTheFirstAlarmList)
{
    auto block = block_from_registers(1, {{262, 0x0000}, {263, 0x0001}});
    std::vector<uint8_t> previous(block.size(), 0);
    Masks masks;
    masks.select(0, 0);
    ActiveListsView view = active_lists_view(1, block, previous, masks.spans(1), CatalogueSettings{});
    ASSERT_TRUE(view.changed);
    EXPECT_EQ(view.rows[0], Rows{"Авария контроллера RARUR"});
    for (int k = 1; k < kActiveListCount; ++k)
        EXPECT_TRUE(view.rows[k].empty()) << "list " << k;
}

TEST(ActiveLists, LoadBreakerOfLayout2ShowsInRelay1WithItsNameWhenSet)
{
    auto block = block_from_registers(2, {{264, 0}, {265, 0}, {266, 0}, {267, 0x0008}});
    std::vector<uint8_t> previous(block.size(), 0);
    Masks masks;
    masks.select(2, 35);
    CatalogueSettings settings;   // no breaker configured: listed all the same
    ActiveListsView view = active_lists_view(2, block, previous, masks.spans(2), settings);
    EXPECT_EQ(view.rows[2], Rows{"Отключен аппарат защиты нагрузки QH1"});
    EXPECT_TRUE(view.rows[0].empty());
    EXPECT_TRUE(view.rows[3].empty());

    std::memcpy(settings.load_breaker_names.data(), "Main", 4);
    view = active_lists_view(2, block, previous, masks.spans(2), settings);
    EXPECT_EQ(view.rows[2], Rows{"Отключен аппарат защиты нагрузки 'Main' (QH1)"});
}

TEST(ActiveLists, EventsOutsideEveryMaskAreListedNowhere)
{
    auto block = block_from_registers(3, {{262, 0xFFFF}, {263, 0xFFFF}, {289, 0xFFFF}});
    std::vector<uint8_t> previous(block.size(), 0);
    Masks masks;
    masks.select(1, 447);   // selected but not active
    ActiveListsView view = active_lists_view(3, block, previous, masks.spans(3), CatalogueSettings{});
    EXPECT_TRUE(view.changed);
    for (int k = 0; k < kActiveListCount; ++k)
        EXPECT_TRUE(view.rows[k].empty()) << "list " << k;
}

TEST(ActiveLists, SelectedCodeWithoutEntryShowsTheNoEntryText)
{
    auto block = block_from_registers(1, {{263, 0x0020}});
    std::vector<uint8_t> previous(block.size(), 0);
    Masks masks;
    masks.select(5, 5);
    ActiveListsView view = active_lists_view(1, block, previous, masks.spans(1), CatalogueSettings{});
    EXPECT_EQ(view.rows[5], Rows{"Неизвестный статус: 5"});
}

TEST(ActiveLists, RowsFollowCodeOrderAcrossGroups)
{
    // Layout 3: energy saving (341, bit 5 of the low byte of register 280),
    // dry contact 16 (431) and the controller alarm (0).
    auto block = block_from_registers(3, {{263, 0x0001}, {280, 0x0020}, {289, 0x8000}});
    std::vector<uint8_t> previous(block.size(), 0);
    Masks masks;
    for (int code : {0, 341, 431})
        masks.select(1, code);
    ActiveListsView view = active_lists_view(3, block, previous, masks.spans(3), CatalogueSettings{});
    EXPECT_EQ(view.rows[1], (Rows{"Авария контроллера RARUR", "Режим энергоэффективности",
                                  "Авария сухого контакта СК16"}));
}

TEST(ActiveLists, ClearedEventEmptiesTheList)
{
    auto raised = block_from_registers(2, {{263, 0x0001}});
    auto cleared = block_from_registers(2, {});
    Masks masks;
    masks.select(0, 0);
    ActiveListsView view = active_lists_view(2, cleared, raised, masks.spans(2), CatalogueSettings{});
    EXPECT_TRUE(view.changed);
    EXPECT_TRUE(view.rows[0].empty());
}

TEST(SelectedActiveCodes, StopsAtTheLayoutsCodeSpaceAndTheShorterArray)
{
    std::vector<uint8_t> active(56, 0xFF), mask(56, 0xFF);
    EXPECT_EQ(selected_active_codes(1, active, mask).size(), 320u);
    EXPECT_EQ(selected_active_codes(2, active, mask).size(), 448u);
    EXPECT_EQ(selected_active_codes(3, active, std::span<const uint8_t>(mask).first(2)).size(), 16u);
    EXPECT_EQ(selected_active_codes(3, active, mask).back(), 447);
}
