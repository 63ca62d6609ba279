// Settings files come from anywhere: reading one and loading it over an image
// of every layout must never crash, hang or read out of bounds.
//
// Half the inputs are taken as the file's text as they are. Arbitrary bytes
// seldom get past the [controller] group, so the other half start from a file
// the program itself writes for an image made of the input, and then change
// it line by line (a value replaced, a line dropped, doubled or rewritten, the
// text cut short): that is how hand-edited and damaged files look, and it
// reaches the value rules and the [raw] words on every input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "settings/bindings.h"
#include "settings/rules.h"
#include "settings/settings_file.h"

namespace {

// `original` gets the image the file was written from while the file is
// still as the program wrote it.
std::string edited_file(FuzzInput& in, SettingsImage& original)
{
    static const int kVersions[] = {200, 300, 400, 410};
    int version = kVersions[in.byte() % 4];
    SettingsImage image;
    image.layout = layout_for_version(version);
    in.bytes(image.data(), 2 * image.word_count());
    const std::string written = settings_file_text(image, version, "2026-12-08 10:00:00");
    std::string text = written;

    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    for (int edits = in.byte() % 8; edits > 0 && !lines.empty(); --edits) {
        uint8_t op = in.byte() % 4;
        size_t at = in.word() % lines.size();
        std::string& line = lines[at];
        switch (op) {
        case 0: {
            size_t eq = line.find('=');
            if (eq != std::string::npos)
                line = line.substr(0, eq + 1) + in.text(40) + "\n";
            break;
        }
        case 1: lines.erase(lines.begin() + long(at)); break;
        case 2: lines.insert(lines.begin() + long(at), line); break;
        default: line = in.text(60); break;
        }
    }
    text.clear();
    for (const std::string& line : lines)
        text += line;
    if ((in.byte() & 3) == 0 && !text.empty())
        text.resize(in.word() % text.size());
    if (text == written)
        original = image;
    return text;
}

// Whatever a file made of the target, every number that became an edit is
// one the page's rules would store as it is.
bool edits_pass_the_rules(const SettingsImage& target, const SettingsImage& loaded)
{
    for (const SettingsBinding& b : settings_bindings()) {
        if (b.kind != ControlKind::Spin || !(b.layouts >> (loaded.layout - 1) & 1))
            continue;
        auto was = settings_item(target, b.field, b.item), now = settings_item(loaded, b.field, b.item);
        if (now.empty() || std::equal(was.begin(), was.end(), now.begin(), now.end()))
            continue;
        SettingsImage again = loaded;
        settings_edit_number(again, b, settings_control_value(b, loaded).number);
        auto ruled = settings_item(again, b.field, b.item);
        if (!std::equal(ruled.begin(), ruled.end(), now.begin(), now.end())) {
            fprintf(stderr, "%s escaped its rule\n", b.key);
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in{data, size};
    std::string text;
    SettingsImage original;   // layout 0 unless the file is as written
    original.layout = 0;
    if (in.byte() & 1)
        text = edited_file(in, original);
    else
        text.assign(reinterpret_cast<const char*>(data + in.at), in.left());

    SettingsFile file;
    std::string message;
    int read = settings_file_read(text.data(), text.size(), file, message);
    if (original.layout != 0) {
        // A file as the program wrote it reads back, and loads onto the
        // Controller it was saved from to exactly the image it was written
        // from: nothing lost, and none of that Controller's own values, however
        // far outside the page's rules, refused or changed.
        FUZZ_CHECK(read == 0);
        const SettingsImage& target = original;
        SettingsFileLoad out;
        int loaded = settings_file_load(file, target, false, out, message);
        if (loaded != 0)
            fprintf(stderr, "%s\n", message.c_str());
        FUZZ_CHECK(loaded == 0);
        FUZZ_CHECK(out.image.bytes == original.bytes);
    }
    if (read != 0)
        return 0;
    for (int layout = 1; layout <= 3; ++layout) {
        SettingsImage target;
        target.layout = layout;
        SettingsFileLoad out;
        if (settings_file_load(file, target, layout == 2, out, message) == 0)
            FUZZ_CHECK(edits_pass_the_rules(target, out.image));
    }
    return 0;
}
