#include "settings/settings_file_keys.h"

#include "base/text_format.h"
#include "registers/catalogue.h"
#include "registers/event_bits.h"
#include "settings/masks.h"

namespace settings_file_keys {

namespace {

using F = SettingsField;

// Word of layout `to` that holds what word `w` of layout `from` holds, by the
// fixed offsets of the layouts: layout 2 has every event mask 8 words longer
// (layout-1 words from 135 on sit 48 higher), layout 3 one word more at 579.
// -1 for the event masks (carried event by event) and the energy-saving word.
int mapped_word(int w, int from, int to)
{
    int w2 = w; // in layout 2
    if (w >= 15 && w < (from == 1 ? 135 : 183))
        return -1;
    if (from == 1 && w >= 135)
        w2 = w + 48;
    if (from == 3 && w >= 579) {
        if (w == 579)
            return -1;
        w2 = w - 1;
    }
    if (to == 1)
        return w2 >= 183 ? w2 - 48 : w2;
    if (to == 3 && w2 >= 579)
        return w2 + 1;
    return w2;
}

// "1, 5–9, 12"
std::string code_ranges(const std::vector<int>& codes)
{
    std::string text;
    for (size_t i = 0; i < codes.size();) {
        size_t j = i;
        while (j + 1 < codes.size() && codes[j + 1] == codes[j] + 1)
            ++j;
        text += (text.empty() ? "" : ", ") +
                (j == i ? std::to_string(codes[i]) : format("%d–%d", codes[i], codes[j]));
        i = j + 1;
    }
    return text;
}

const char* const kMaskTitles[kEventMasks] = {"Авария 1ст", "Авария 2ст", "Реле 1", "Реле 2", "Реле 3", "Реле 4"};

} // namespace

// The file's image carried into the target's layout over `target`; what has
// no place there goes to `lost`.
SettingsImage carried_image(const SettingsImage& raw, const SettingsImage& target, std::vector<std::string>& lost)
{
    SettingsImage image = target;
    int from = raw.layout, to = target.layout;
    for (int w = 3; w < static_cast<int>(raw.word_count()); ++w) {
        int t = mapped_word(w, from, to);
        if (t >= 3 && t < static_cast<int>(image.word_count())) {
            image.bytes[2 * t] = raw.bytes[2 * w];
            image.bytes[2 * t + 1] = raw.bytes[2 * w + 1];
        }
    }
    if (settings_word(F::EnergySaving, to) < 0 && settings_u16(raw, F::EnergySaving) != 0)
        lost.push_back(format("Режим энергоэффективности (слово %d = 0x%04X): у подключенного Контроллера его нет",
                              settings_word(F::EnergySaving, from), settings_u16(raw, F::EnergySaving)));
    for (int k = 1; k <= kEventMasks; ++k) {
        std::vector<int> codes;
        for (int code = 0; code < event_code_count(from); ++code) {
            bool bit = mask_bit(raw, code, k);
            int moved = event_code_in_layout(static_cast<uint16_t>(code), from, to);
            if (moved >= 0)
                set_mask_bit(image, moved, k, bit);
            else if (bit)
                codes.push_back(code);
        }
        if (!codes.empty())
            lost.push_back(format("маска «%s», события %s: у подключенного Контроллера их нет", kMaskTitles[k - 1],
                                  code_ranges(codes).c_str()));
    }
    return image;
}

} // namespace settings_file_keys
