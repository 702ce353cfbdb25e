#include "proxy_mode/system_proxy.h"

#include <wininet.h>

#include "common/text_encoding.h"

namespace zelvora {
namespace {

constexpr char kBypassList[] =
    "localhost;127.*;10.*;172.16.*;172.17.*;172.18.*;172.19.*;172.20.*;172.21.*;172.22.*;"
    "172.23.*;172.24.*;172.25.*;172.26.*;172.27.*;172.28.*;172.29.*;172.30.*;172.31.*;192.168.*";

bool ApplyOptions(INTERNET_PER_CONN_OPTIONW* options, DWORD count) {
  INTERNET_PER_CONN_OPTION_LISTW list{};
  list.dwSize = sizeof(list);
  list.pszConnection = nullptr;  // the LAN connection
  list.dwOptionCount = count;
  list.pOptions = options;
  if (!::InternetSetOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, sizeof(list))) {
    return false;
  }
  // Tell running programs; a refresh without a handle is refused by some WinINet builds and
  // changes nothing about the settings just stored.
  ::InternetSetOptionW(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
  ::InternetSetOptionW(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
  return true;
}

std::wstring TakeWinInetString(wchar_t* text) {
  if (!text) return std::wstring();
  std::wstring copy(text);
  ::GlobalFree(text);
  return copy;
}

}  // namespace

SystemProxyTexts ProxyTextsFor(const std::string& host, uint16_t port) {
  return {Utf8ToWide("socks=" + host + ":" + std::to_string(port)), Utf8ToWide(kBypassList)};
}

bool SetSystemProxy(const SystemProxyTexts& texts) {
  INTERNET_PER_CONN_OPTIONW options[3] = {};
  options[0].dwOption = INTERNET_PER_CONN_FLAGS;
  options[0].Value.dwValue = PROXY_TYPE_DIRECT | PROXY_TYPE_PROXY;
  options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
  options[1].Value.pszValue = const_cast<wchar_t*>(texts.server.c_str());
  options[2].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
  options[2].Value.pszValue = const_cast<wchar_t*>(texts.bypass.c_str());
  return ApplyOptions(options, 3);
}

bool ReadProxySettings(ProxySettings* settings) {
  INTERNET_PER_CONN_OPTIONW options[4] = {};
  options[0].dwOption = INTERNET_PER_CONN_FLAGS;
  options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
  options[2].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
  options[3].dwOption = INTERNET_PER_CONN_AUTOCONFIG_URL;
  INTERNET_PER_CONN_OPTION_LISTW list{};
  list.dwSize = sizeof(list);
  list.dwOptionCount = 4;
  list.pOptions = options;
  DWORD size = sizeof(list);
  if (!::InternetQueryOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size)) {
    return false;
  }
  settings->flags = options[0].Value.dwValue;
  settings->server = WideToUtf8(TakeWinInetString(options[1].Value.pszValue));
  settings->bypass = WideToUtf8(TakeWinInetString(options[2].Value.pszValue));
  settings->autoconfig_url = WideToUtf8(TakeWinInetString(options[3].Value.pszValue));
  return true;
}

bool ApplyProxySettings(const ProxySettings& settings) {
  std::wstring server = Utf8ToWide(settings.server);
  std::wstring bypass = Utf8ToWide(settings.bypass);
  std::wstring autoconfig = Utf8ToWide(settings.autoconfig_url);
  INTERNET_PER_CONN_OPTIONW options[4] = {};
  options[0].dwOption = INTERNET_PER_CONN_FLAGS;
  options[0].Value.dwValue = settings.flags;
  options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
  options[1].Value.pszValue = server.data();
  options[2].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
  options[2].Value.pszValue = bypass.data();
  options[3].dwOption = INTERNET_PER_CONN_AUTOCONFIG_URL;
  options[3].Value.pszValue = autoconfig.data();
  return ApplyOptions(options, 4);
}

}  // namespace zelvora
