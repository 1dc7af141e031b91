#pragma once
// The engine's D-Bus interface description (bus name org.ravek.RavekVoice).
inline constexpr const char* kRavekBusName = "org.ravek.RavekVoice";
inline constexpr const char* kRavekObjectPath = "/org/ravek/RavekVoice";
inline constexpr const char* kRavekInterface = "org.ravek.RavekVoice.IAPI";
inline constexpr const char* kRavekFactoryInterface = "org.ravek.RavekVoice.Factory";
// Engine objects made by the factory live at this prefix followed by their number.
inline constexpr const char* kRavekInstancePathPrefix = "/org/ravek/RavekVoice/Instance/";
inline constexpr const char* kRavekErrorName = "org.ravek.RavekVoice.Error";
const char* RavekInterfaceXml();
