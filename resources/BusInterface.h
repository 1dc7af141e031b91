#pragma once
// The engine's D-Bus interface description (bus name org.ravek.RavekVoice).
inline constexpr const char* kRavekBusName = "org.ravek.RavekVoice";
inline constexpr const char* kRavekObjectPath = "/org/ravek/RavekVoice";
inline constexpr const char* kRavekInterface = "org.ravek.RavekVoice.IAPI";
inline constexpr const char* kRavekErrorName = "org.ravek.RavekVoice.Error";
const char* RavekInterfaceXml();
