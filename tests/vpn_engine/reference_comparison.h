// Runs every configuration-text function and its std::regex reference on one input and names
// the first disagreement. Shared by the equivalence tests and the fuzz target.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "config_text/config_inspection.h"
#include "config_text/config_meta.h"
#include "config_text/text_patterns.h"
#include "config_text/xray_core_contract.h"
#include "regex_reference.h"
#include "vpn_engine/injection/config_injection.h"

namespace reference_comparison {

template <typename T>
std::string Show(const T& value) {
  std::ostringstream out;
  out << value;
  return out.str();
}
inline std::string Show(const std::vector<std::string>& items) {
  std::string out = "[";
  for (const auto& item : items) out += "<" + item + ">";
  return out + "]";
}
inline std::string Show(const std::vector<uint32_t>& items) {
  std::string out = "[";
  for (auto item : items) out += std::to_string(item) + " ";
  return out + "]";
}
inline std::string Show(const std::optional<std::string>& value) {
  return value ? "<" + *value + ">" : "(none)";
}

#define ZELVORA_COMPARE(what, ours, theirs)                                      \
  do {                                                                           \
    const auto ours_value = (ours);                                              \
    const auto theirs_value = (theirs);                                          \
    if (!(ours_value == theirs_value)) {                                         \
      return std::string(what) + ": ours " + Show(ours_value) + ", reference " + \
             Show(theirs_value);                                                 \
    }                                                                            \
  } while (0)

// Empty when every function agrees with its reference on `text`. The SOCKS and API port, the
// DNS servers, the server address, the shared ports and the metadata lists are no longer the
// patterns' answers:
// they read the object a value belongs to, and the user-configuration tests check them.
inline std::string FirstDifference(const std::string& text) {
  ZELVORA_COMPARE("IsDottedQuad", config_text::IsDottedQuad(text),
                  regex_reference::IsDottedQuad(text));

  std::string ours_text = text, reference_text = text;
  const ConfigMeta ours = ExtractConfigMeta(ours_text);
  const ConfigMeta reference = regex_reference::ExtractConfigMeta(reference_text);
  ZELVORA_COMPARE("meta text", ours_text, reference_text);
  ZELVORA_COMPARE("panelHost", ours.panelHost, reference.panelHost);

  ZELVORA_COMPARE("StripAllowInsecure", StripAllowInsecure(text),
                  regex_reference::StripAllowInsecure(text));
  ZELVORA_COMPARE("ListenOnIpv4Loopback", ListenOnIpv4Loopback(text),
                  regex_reference::ListenOnIpv4Loopback(text));
  ZELVORA_COMPARE("ParseCoreVersion", xray_core::ParseCoreVersion(text),
                  regex_reference::CoreVersion(text));
  return {};
}

#undef ZELVORA_COMPARE

}  // namespace reference_comparison
