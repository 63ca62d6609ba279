// The registry of link kinds against the frame formats and the kind menu of
// the interface description: the menu and every check of a kind go through
// these records, so a record that disagrees with either shows up here.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "link/backend.h"
#include "modbus/frame.h"

namespace {

struct KindItem {
    std::string id;
    std::string label;
    bool active = false;
};

// The radio items of the kind menu (those handled by SelectConnectionType),
// in the order of the description.
std::vector<KindItem> kind_menu_items()
{
    std::ifstream in(std::string(RARUR_SOURCE_DIR) + "/interfaces/RARUR.glade");
    std::stringstream text;
    text << in.rdbuf();
    std::string xml = text.str();
    std::vector<KindItem> items;
    std::regex item(R"re(<object class="GtkRadioMenuItem" id="([^"]+)">([\s\S]*?)</object>)re");
    std::regex label(R"re(<property name="label"[^>]*>([^<]*)</property>)re");
    std::regex active(R"re(<property name="active">True</property>)re");
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), item); it != std::sregex_iterator(); ++it) {
        std::string body = (*it)[2];
        if (body.find("handler=\"SelectConnectionType\"") == std::string::npos)
            continue;
        std::smatch m;
        KindItem k{(*it)[1], std::regex_search(body, m, label) ? m[1].str() : "", std::regex_search(body, active)};
        items.push_back(k);
    }
    return items;
}

TEST(LinkRegistry, EachKindIsOneRecordAgreeingWithItsFrameFormatAndItsMenuItem)
{
    std::vector<KindItem> menu = kind_menu_items();
    auto backends = link_backends();
    ASSERT_EQ(backends.size(), size_t(kLinkKindCount)) << "one record per kind";
    ASSERT_EQ(menu.size(), backends.size()) << "one menu item per record, and no other in the kind menu";

    for (size_t i = 0; i < backends.size(); ++i) {
        const LinkBackend& b = *backends[i];
        SCOPED_TRACE(b.name);
        EXPECT_EQ(link_backend(b.kind), &b) << "a kind has exactly one record";

        // A kind that connects wraps its frames some way, and asks for
        // something before it opens; one that does not has neither.
        const FrameFormat* format = frame_format(b.kind);
        EXPECT_EQ(b.open != nullptr, format != nullptr);
        EXPECT_EQ(b.open != nullptr, b.asks != LinkBackend::Asks::Nothing);

        // The menu shows the records in their order, each item under the
        // record's label, the default kind's item chosen.
        EXPECT_EQ(menu[i].id, b.menu_item);
        EXPECT_EQ(menu[i].label, b.name);
        EXPECT_EQ(menu[i].active, b.kind == kDefaultLinkKind);
    }
}

}  // namespace
