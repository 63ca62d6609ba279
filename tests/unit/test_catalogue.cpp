#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "registers/catalogue.h"

namespace {

struct Text {
    std::string text;
    bool applies;
};

Text text_of(int layout, int code, const CatalogueSettings& s, size_t size = 401)
{
    std::vector<char> buffer(size + 1, '#');
    bool applies = event_text(buffer.data(), size, static_cast<uint16_t>(code), layout, s);
    EXPECT_EQ(buffer[size], '#') << "wrote past the buffer for code " << code;
    return {buffer.data(), applies};
}

CatalogueSettings full_plant()
{
    CatalogueSettings s;
    s.load_breaker_count = 52;
    s.battery_group_count = 8;
    s.contactor_count = 4;
    s.rectifier_count = 190;
    s.phase_count = 3;
    s.dry_contact_count = 16;
    return s;
}

void set_name(std::array<uint8_t, kMaxLoadBreakers * kNameFieldSize>& names, int n, const char* cp1251)
{
    std::memcpy(names.data() + (n - 1) * kNameFieldSize, cp1251, std::strlen(cp1251));
}

std::string unknown(int code) { return "Неизвестный статус: " + std::to_string(code); }

struct Boundary {
    int code;
    const char* text;
};

// First and last code of every numbered range and the codes on either side.
void expect_boundaries(int layout, const std::vector<Boundary>& cases)
{
    CatalogueSettings s = full_plant();
    for (const Boundary& b : cases) {
        Text t = text_of(layout, b.code, s);
        if (b.text) {
            EXPECT_EQ(t.text, b.text) << "layout " << layout << " code " << b.code;
            EXPECT_TRUE(t.applies) << "layout " << layout << " code " << b.code;
        } else {
            EXPECT_EQ(t.text, unknown(b.code)) << "layout " << layout << " code " << b.code;
            EXPECT_FALSE(t.applies) << "layout " << layout << " code " << b.code;
        }
    }
}

}  // namespace

TEST(EventCatalogue, RangesCommonToAllLayoutsStartAndEndWhereTheyShould)
{
    std::vector<Boundary> common = {
        {0, "Авария контроллера RARUR"},
        {1, nullptr},
        {31, nullptr},
        {34, "Термокомпенсация активна"},
        {35, "Отключен аппарат защиты нагрузки QH1"},
        {86, "Отключен аппарат защиты нагрузки QH52"},
        {87, "Авария УКДВ"},
        {88, nullptr},
        {95, nullptr},
        {102, "Тест АБ"},
        {103, "Отключен аппарат защиты группы 1 АБ QB1"},
        {110, "Отключен аппарат защиты группы 8 АБ QB8"},
        {111, "Блок / элемент группы 1 АБ не в норме"},
        {118, "Блок / элемент группы 8 АБ не в норме"},
        {119, "Авария УПКБ"},
        {120, nullptr},
        {127, nullptr},
        {128, "Отключен контактор К1"},
        {131, "Отключен контактор К4"},
        {132, "Авария контактора К1"},
        {135, "Авария контактора К4"},
        {136, nullptr},
        {159, nullptr},
        {511, nullptr},
        {512, "Включение RARUR"},
        {513, "Сохранение настроек"},
        {514, "Установка часов"},
        {515, "Запуск теста АБ"},
        {516, "Запуск выравнивающего заряда АБ"},
        {517, nullptr},
        {65535, nullptr},
    };
    for (int layout = 1; layout <= 3; ++layout)
        expect_boundaries(layout, common);
}

TEST(EventCatalogue, Layout1Boundaries)
{
    expect_boundaries(1, {
        {160, "Авария выпрямительного блока VUV1"},
        {219, "Авария выпрямительного блока VUV60"},
        {220, "Нет резерва выпрямительных блоков VUV"},
        {221, nullptr},
        {223, nullptr},
        {224, "Авария фазы Ф1 сети"},
        {226, "Авария фазы Ф3 сети"},
        {227, "Авария датчика контроля сети"},
        {228, "Авария модуля грозозащиты"},
        {229, nullptr},
        {255, nullptr},
        {256, "Температура Т2 ниже минимума"},
        {258, "Авария датчика контроля температуры"},
        {259, nullptr},
        {287, nullptr},
        {288, "Авария сухого контакта СК1"},
        {303, "Авария сухого контакта СК16"},
        {304, nullptr},
        {341, nullptr},
        {352, nullptr},
        {384, nullptr},
        {416, nullptr},
    });
}

TEST(EventCatalogue, Layout2Boundaries)
{
    expect_boundaries(2, {
        {160, "Нет резерва выпрямительных блоков VUV"},
        {161, "Авария выпрямительного блока VUV1"},
        {350, "Авария выпрямительного блока VUV190"},
        {351, nullptr},
        {352, "Авария фазы Ф1 сети"},
        {354, "Авария фазы Ф3 сети"},
        {355, "Авария датчика контроля сети"},
        {356, "Авария модуля грозозащиты"},
        {357, nullptr},
        {383, nullptr},
        {384, "Температура Т2 ниже минимума"},
        {386, "Авария датчика контроля температуры"},
        {387, nullptr},
        {415, nullptr},
        {416, "Авария сухого контакта СК1"},
        {431, "Авария сухого контакта СК16"},
        {432, nullptr},
        {447, nullptr},
        {220, "Авария выпрямительного блока VUV60"},
        {224, "Авария выпрямительного блока VUV64"},
        {256, "Авария выпрямительного блока VUV96"},
        {288, "Авария выпрямительного блока VUV128"},
        {341, "Авария выпрямительного блока VUV181"},
    });
}

TEST(EventCatalogue, Layout3Boundaries)
{
    expect_boundaries(3, {
        {159, nullptr},
        {160, "Авария выпрямительного блока VUV1"},
        {339, "Авария выпрямительного блока VUV180"},
        {340, "Нет резерва выпрямительных блоков VUV"},
        {341, "Режим энергоэффективности"},
        {342, nullptr},
        {351, nullptr},
        {352, "Авария фазы Ф1 сети"},
        {354, "Авария фазы Ф3 сети"},
        {356, "Авария модуля грозозащиты"},
        {357, nullptr},
        {384, "Температура Т2 ниже минимума"},
        {386, "Авария датчика контроля температуры"},
        {387, nullptr},
        {416, "Авария сухого контакта СК1"},
        {431, "Авария сухого контакта СК16"},
        {432, nullptr},
    });
}

TEST(EventCatalogue, NumberedEventsApplyOnlyUpToTheConfiguredCount)
{
    CatalogueSettings s;
    s.load_breaker_count = 12;
    Text t = text_of(1, 74, s);
    EXPECT_EQ(t.text, "Отключен аппарат защиты нагрузки QH40");
    EXPECT_FALSE(t.applies);
    EXPECT_TRUE(text_of(1, 46, s).applies);    // QH12
    EXPECT_FALSE(text_of(1, 47, s).applies);   // QH13

    s.battery_group_count = 2;
    s.rectifier_count = 60;
    s.phase_count = 1;
    struct Case { int layout, code; bool applies; };
    for (Case c : {Case{2, 104, true}, {2, 105, false}, {2, 113, false}, {2, 220, true}, {2, 221, false},
                   {1, 219, true}, {3, 352, true}, {3, 353, false}, {1, 128, false}})
        EXPECT_EQ(text_of(c.layout, c.code, s).applies, c.applies) << c.layout << "/" << c.code;

    // Counts are unsigned 16-bit: 0xFFFF makes every item apply.
    s.load_breaker_count = 0xFFFF;
    EXPECT_TRUE(text_of(1, 86, s).applies);
}

TEST(EventCatalogue, NamedItemsShowTheirNameInQuotesBeforeTheNumber)
{
    CatalogueSettings s = full_plant();
    set_name(s.load_breaker_names, 3, "\xD1\xE2\xE5\xF2");   // "Свет" in WINDOWS-1251
    Text t = text_of(1, 37, s);
    EXPECT_EQ(t.text, "Отключен аппарат защиты нагрузки 'Свет' (QH3)");
    EXPECT_TRUE(t.applies);
    s.load_breaker_count = 2;
    t = text_of(1, 37, s);
    EXPECT_EQ(t.text, "Отключен аппарат защиты нагрузки 'Свет' (QH3)");
    EXPECT_FALSE(t.applies);

    std::memcpy(s.contactor_names.data() + 10, "Batt", 4);
    EXPECT_EQ(text_of(2, 129, s).text, "Отключен контактор 'Batt' (К2)");
    EXPECT_EQ(text_of(2, 133, s).text, "Авария контактора 'Batt' (К2)");
    EXPECT_EQ(text_of(2, 128, s).text, "Отключен контактор К1");

    std::memcpy(s.dry_contact_names.data() + 150, "Door", 4);
    EXPECT_EQ(text_of(1, 303, s).text, "Авария сухого контакта 'Door' (СК16)");
    EXPECT_EQ(text_of(3, 431, s).text, "Авария сухого контакта 'Door' (СК16)");
}

TEST(EventCatalogue, NameFieldOfTenBytesEndsAtTheFieldNotAtTheNextName)
{
    CatalogueSettings s = full_plant();
    set_name(s.load_breaker_names, 1, "ABCDEFGHIJ");
    set_name(s.load_breaker_names, 2, "XYZ");
    EXPECT_EQ(text_of(3, 35, s).text, "Отключен аппарат защиты нагрузки 'ABCDEFGHIJ' (QH1)");
    EXPECT_EQ(text_of(3, 36, s).text, "Отключен аппарат защиты нагрузки 'XYZ' (QH2)");
    // The last name of the array with all bytes set stays inside the array.
    set_name(s.load_breaker_names, 52, "\xC0\xC0\xC0\xC0\xC0\xC0\xC0\xC0\xC0\xC0");
    EXPECT_EQ(text_of(3, 86, s).text, "Отключен аппарат защиты нагрузки 'АААААААААА' (QH52)");
}

TEST(EventCatalogue, NameThatIsNotWindows1251FallsBackToTheNumber)
{
    CatalogueSettings s = full_plant();
    set_name(s.load_breaker_names, 5, "A\x98");   // 0x98 has no character in WINDOWS-1251
    EXPECT_EQ(text_of(1, 39, s).text, "Отключен аппарат защиты нагрузки QH5");
    // A name after a NUL in the first byte is not a name.
    set_name(s.load_breaker_names, 6, "\0ABC");
    s.load_breaker_names[5 * 10 + 1] = 'A';
    EXPECT_EQ(text_of(1, 40, s).text, "Отключен аппарат защиты нагрузки QH6");
}

TEST(EventCatalogue, SameCodeMeansDifferentEventsAcrossLayouts)
{
    CatalogueSettings s = full_plant();
    EXPECT_EQ(text_of(1, 160, s).text, "Авария выпрямительного блока VUV1");
    EXPECT_EQ(text_of(3, 160, s).text, "Авария выпрямительного блока VUV1");
    EXPECT_EQ(text_of(2, 160, s).text, "Нет резерва выпрямительных блоков VUV");
    EXPECT_EQ(text_of(1, 161, s).text, "Авария выпрямительного блока VUV2");
    EXPECT_EQ(text_of(3, 161, s).text, "Авария выпрямительного блока VUV2");
    EXPECT_EQ(text_of(2, 161, s).text, "Авария выпрямительного блока VUV1");

    EXPECT_EQ(text_of(3, 341, s).text, "Режим энергоэффективности");
    EXPECT_EQ(text_of(1, 341, s).text, unknown(341));
    EXPECT_NE(text_of(2, 341, s).text, "Режим энергоэффективности");

    EXPECT_EQ(text_of(1, 224, s).text, "Авария фазы Ф1 сети");
    EXPECT_NE(text_of(2, 224, s).text, "Авария фазы Ф1 сети");
    EXPECT_NE(text_of(3, 224, s).text, "Авария фазы Ф1 сети");
}

TEST(EventCatalogue, BatteryGroupBreakerUsesTheGroupNumberTwice)
{
    EXPECT_EQ(text_of(1, 105, CatalogueSettings{}).text, "Отключен аппарат защиты группы 3 АБ QB3");
}

TEST(EventCatalogue, CodesWithoutEntryAndUnknownLayoutsGiveTheNoEntryText)
{
    CatalogueSettings s = full_plant();
    for (int layout = 1; layout <= 3; ++layout) {
        Text t = text_of(layout, 1, s);
        EXPECT_EQ(t.text, "Неизвестный статус: 1");
        EXPECT_FALSE(t.applies);
    }
    EXPECT_EQ(text_of(0, 0, s).text, unknown(0));
    EXPECT_EQ(text_of(4, 0, s).text, unknown(0));
}

TEST(EventCatalogue, LongTextIsCutToTheBufferWithoutSplittingACharacter)
{
    CatalogueSettings s;
    // "Авария контроллера RARUR": Cyrillic letters are two bytes each.
    EXPECT_EQ(text_of(1, 0, s, 7).text, "Ава");        // 6 bytes fit in 7 - 1
    EXPECT_EQ(text_of(1, 0, s, 8).text, "Ава");        // the 4th letter would be split
    EXPECT_EQ(text_of(1, 0, s, 9).text, "Авар");
    EXPECT_EQ(text_of(1, 0, s, 1).text, "");
    EXPECT_EQ(text_of(1, 512, s, 21).text, "Включение R");   // 18 bytes, space, 'R'
    EXPECT_EQ(text_of(1, 74, CatalogueSettings{}, 10).text, "Откл");
    Text t = text_of(1, 74, CatalogueSettings{}, 11);
    EXPECT_EQ(t.text, "Отклю");
    EXPECT_FALSE(t.applies);
    // A zero-size buffer is left alone.
    EXPECT_TRUE(event_text(nullptr, 0, 0, 1, s));
}

TEST(CatalogueSettings, ReadsCountsAndNamesFromTheImageOfEachLayout)
{
    for (int layout = 1; layout <= 3; ++layout) {
        SettingsImage image;
        image.layout = layout;
        settings_set_u16(image, SettingsField::LoadBreakerCount, 12);
        settings_set_u16(image, SettingsField::BatteryGroupCount, 2);
        settings_set_u16(image, SettingsField::ContactorCount, 3);
        settings_set_u16(image, SettingsField::RectifierCount, 40);
        settings_set_u16(image, SettingsField::MainsPhaseCount, 1);
        settings_set_u16(image, SettingsField::DryContactCount, 7);
        std::memcpy(settings_item(image, SettingsField::LoadBreakerNames, 51).data(), "ABCDEFGHIJ", 10);
        std::memcpy(settings_item(image, SettingsField::ContactorNames, 3).data(), "K4name", 6);
        std::memcpy(settings_item(image, SettingsField::DryContactNames, 15).data(), "LastDC", 6);
        CatalogueSettings s = catalogue_settings(image);
        EXPECT_EQ(s.load_breaker_count, 12);
        EXPECT_EQ(s.battery_group_count, 2);
        EXPECT_EQ(s.contactor_count, 3);
        EXPECT_EQ(s.rectifier_count, 40);
        EXPECT_EQ(s.phase_count, 1);
        EXPECT_EQ(s.dry_contact_count, 7);

        char text[401];
        EXPECT_FALSE(event_text(text, sizeof text, 86, image));
        EXPECT_STREQ(text, "Отключен аппарат защиты нагрузки 'ABCDEFGHIJ' (QH52)");
        EXPECT_FALSE(event_text(text, sizeof text, 131, image));
        EXPECT_STREQ(text, "Отключен контактор 'K4name' (К4)");
        EXPECT_TRUE(event_text(text, sizeof text, 130, image));
        int dry16 = layout == 1 ? 303 : 431;
        EXPECT_FALSE(event_text(text, sizeof text, static_cast<uint16_t>(dry16), image));
        EXPECT_STREQ(text, "Авария сухого контакта 'LastDC' (СК16)");
        int phase1 = layout == 1 ? 224 : 352;
        EXPECT_TRUE(event_text(text, sizeof text, static_cast<uint16_t>(phase1), image));
        EXPECT_FALSE(event_text(text, sizeof text, static_cast<uint16_t>(phase1 + 1), image));
    }
}
