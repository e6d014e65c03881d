// The LV2 bundle as hosts read it: the factory presets and the version.
#include <gtest/gtest.h>

#include <lv2/core/lv2.h>
#include <lv2/presets/presets.h>

#include <map>

#include "loopmass_version.h"

#include "lv2_support.h"

namespace {

using namespace lv2test;

TEST(Lv2Bundle, TheTenFactoryPresetsSetThePresetControl)
{
    LilvWorld *w = rack::world();
    LilvNode *preset_class = lilv_new_uri(w, LV2_PRESETS__Preset);
    LilvNodes *presets = lilv_plugin_get_related(rack::plugin(), preset_class);
    std::map<std::string, std::map<std::string, float>> found;
    LILV_FOREACH(nodes, i, presets)
    {
        const LilvNode *preset = lilv_nodes_get(presets, i);
        lilv_world_load_resource(w, preset);
        LilvState *state = lilv_state_new_from_world(w, rack::map(), preset);
        ASSERT_NE(state, nullptr);
        std::map<std::string, float> values;
        lilv_state_emit_port_values(
            state,
            [](const char *symbol, void *user, const void *value, uint32_t size, uint32_t) {
                if (size == sizeof(float))
                    (*(std::map<std::string, float> *)user)[symbol] = *(const float *)value;
            },
            &values);
        found[lilv_state_get_label(state)] = values;
        lilv_state_free(state);
    }
    lilv_nodes_free(presets);
    lilv_node_free(preset_class);

    std::map<std::string, std::map<std::string, float>> expected;
    for (int i = 0; i < 10; i++)
        expected["Factory preset " + std::to_string(i)] = {{"preset", (float)i}};
    EXPECT_EQ(found, expected);
}

// Hosts tell releases and updates apart by the bundle's version: LV2's minor
// and micro version are the project's minor and patch numbers.
TEST(Lv2Bundle, TheVersionIsTheProjects)
{
    LilvWorld *w = rack::world();
    const struct {
        const char *property;
        int expected;
    } cases[] = {{LV2_CORE__minorVersion, LOOPMASS_VERSION_MINOR}, {LV2_CORE__microVersion, LOOPMASS_VERSION_MICRO}};
    for (const auto &c : cases) {
        LilvNode *property = lilv_new_uri(w, c.property);
        LilvNodes *values = lilv_plugin_get_value(rack::plugin(), property);
        ASSERT_NE(values, nullptr) << c.property;
        EXPECT_EQ(lilv_nodes_size(values), 1u) << c.property;
        const LilvNode *v = lilv_nodes_get_first(values);
        EXPECT_TRUE(lilv_node_is_int(v)) << c.property;
        EXPECT_EQ(lilv_node_as_int(v), c.expected) << c.property;
        lilv_nodes_free(values);
        lilv_node_free(property);
    }
}

} // namespace
