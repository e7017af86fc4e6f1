#include "platform/x11/GsettingsKeybindings.h"

#include <gio/gio.h>

namespace quorvel {

std::vector<GsettingsKeybindings::Key> GsettingsKeybindings::read(std::string_view schemaName) {
  std::vector<Key> keys;
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();  // not ours to free
  if (!source) return keys;
  const std::string id(schemaName);
  // Looked up first: GSettings ends the process when asked for a schema it does not have.
  GSettingsSchema* schema = g_settings_schema_source_lookup(source, id.c_str(), TRUE);
  if (!schema) return keys;
  GSettings* settings = g_settings_new_full(schema, nullptr, nullptr);
  gchar** names = g_settings_schema_list_keys(schema);
  for (gchar** name = names; name && *name; ++name) {
    GVariant* value = g_settings_get_value(settings, *name);
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING_ARRAY)) {
      Key key{*name, {}, true};
      gsize count = 0;
      const gchar** strings = g_variant_get_strv(value, &count);
      for (gsize i = 0; i < count; ++i) key.accelerators.emplace_back(strings[i]);
      g_free(strings);
      keys.push_back(std::move(key));
    } else if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
      keys.push_back(Key{*name, {g_variant_get_string(value, nullptr)}, false});
    }
    g_variant_unref(value);
  }
  g_strfreev(names);
  g_object_unref(settings);
  g_settings_schema_unref(schema);
  return keys;
}

}  // namespace quorvel
