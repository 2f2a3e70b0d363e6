// Every setting of a farm and of a Windows application: the one place each is named. The lists
// expand into the store's enumerations and definitions (settings.h), the columns of every SQL
// store (setting_columns.h) and the object model's properties (farm_object.h,
// application_object.h and their settings files).
//
// One line per setting, in the order of the object model's settings interfaces:
//
//   X(Name, Kind, Type, Access, Default)
//
//   Name     the property of the object model (get_Name, put_Name), the enumerator of
//            FarmSetting or AppSetting and the column of the store
//   Kind     Flag (a long, 0 off, anything else on), Number (a long), Text (a string) or
//            Enumeration (a member of the enumeration named by Type; for a bit set, a combination
//            of its bits)
//   Type     the property's automation type: LONG, BSTR or the enumeration's type name
//   Access   ReadWrite, or ReadOnly when the object model offers no put
//   Default  what a new farm or application starts with: a number, or a string for Text
//
// Farm defaults: the display protocol tuned for a LAN, reconnection and keep-alive on, SNMP off,
// no connection limit, session reliability on its usual port.
#pragma once

#define SKY_FARM_SETTINGS(X)                                                                       \
    X(NoRedundantGraphics, Flag, LONG, ReadWrite, 1)                                               \
    X(AlternateCachingMethod, Flag, LONG, ReadWrite, 0)                                            \
    X(OvraVideoBufferSize, Number, LONG, ReadWrite, 307200)                                        \
    X(DegradationBias, Enumeration, QVWinOvraDegradationBias, ReadWrite, 1)                        \
    X(NotifyDegradation, Flag, LONG, ReadWrite, 0)                                                 \
    X(DCRespondToClientBroadcast, Flag, LONG, ReadWrite, 1)                                        \
    X(RASRespondToClientBroadcast, Flag, LONG, ReadWrite, 0)                                       \
    X(LegacyQVServerCompatibleMode, Flag, LONG, ReadWrite, 0)                                      \
    X(UseClientLocalTime, Flag, LONG, ReadWrite, 1)                                                \
    X(DisableClientLocalTimeEstimation, Flag, LONG, ReadWrite, 0)                                  \
    X(EnableSNMPAgent, Flag, LONG, ReadWrite, 0)                                                   \
    X(SNMPLogonTrap, Flag, LONG, ReadWrite, 0)                                                     \
    X(SNMPLogoffTrap, Flag, LONG, ReadWrite, 0)                                                    \
    X(SNMPDisconnectTrap, Flag, LONG, ReadWrite, 0)                                                \
    X(SNMPThresholdExceededTrap, Flag, LONG, ReadWrite, 0)                                         \
    X(SNMPThresholdValue, Number, LONG, ReadWrite, 0)                                              \
    X(EnableACR, Flag, LONG, ReadWrite, 1)                                                         \
    X(LogACRAttempts, Flag, LONG, ReadWrite, 0)                                                    \
    X(EnableDNSAddressResolution, Flag, LONG, ReadWrite, 0)                                        \
    X(NDSPreferredTree, Text, BSTR, ReadWrite, "")                                                 \
    X(MaxConnectionsPerUser, Number, LONG, ReadWrite, 0)                                           \
    X(LogOverLimitDenials, Flag, LONG, ReadWrite, 0)                                               \
    X(EnableOvraKeepAlive, Flag, LONG, ReadWrite, 1)                                               \
    X(OvraKeepAliveTimeout, Number, LONG, ReadWrite, 60)                                           \
    X(EnforceConnectionsLimitOnAdmins, Flag, LONG, ReadWrite, 0)                                   \
    X(EnableContentRedirection, Flag, LONG, ReadWrite, 1)                                          \
    X(EnableRemoteConsoleConnections, Flag, LONG, ReadWrite, 1)                                    \
    X(LumoEnumMode, Flag, LONG, ReadWrite, 0)                                                      \
    X(ZonesShareLoadInfo, Flag, LONG, ReadWrite, 0)                                                \
    X(SREnabled, Flag, LONG, ReadWrite, 1)                                                         \
    X(SRPort, Number, LONG, ReadWrite, 2598)                                                       \
    X(SRTimeout, Number, LONG, ReadWrite, 180)

// Application defaults: enabled, basic encryption and sound, 256 colours in an 800x600 window,
// no instance limit (-1), normal priority, not integrated into the client's desktop. The name,
// description and folder are fields of the application itself.
#define SKY_APP_SETTINGS(X)                                                                        \
    X(EnableApp, Flag, LONG, ReadWrite, 1)                                                         \
    X(DefaultEncryption, Enumeration, QVWinEncryptionLevel, ReadWrite, 1)                          \
    X(DefaultInitProg, Text, BSTR, ReadWrite, "")                                                  \
    X(DefaultWorkDir, Text, BSTR, ReadWrite, "")                                                   \
    X(DefaultSoundType, Enumeration, QVWinSoundType, ReadWrite, 2)                                 \
    X(DefaultWindowColor, Enumeration, QVWinWindowColor, ReadWrite, 2)                             \
    X(DefaultWindowType, Enumeration, QVWinWindowType, ReadWrite, 2)                               \
    X(DefaultWindowWidth, Number, LONG, ReadWrite, 800)                                            \
    X(DefaultWindowHeight, Number, LONG, ReadWrite, 600)                                           \
    X(DefaultWindowScale, Number, LONG, ReadWrite, 100)                                            \
    X(DesktopIntegrate, Enumeration, QVWinDesktopIntegrate, ReadWrite, 0)                          \
    X(QVAttributes, Enumeration, QVWinAppQVAttribute, ReadWrite, 0)                                \
    X(LumoAttributes, Enumeration, QVWinAppLumoAttribute, ReadWrite, 0)                            \
    X(LumoFolder, Text, BSTR, ReadWrite, "")                                                       \
    X(CPUPriority, Enumeration, QVWinAppCPUPriorityLevel, ReadOnly, 3)                             \
    X(InstanceLimit, Number, LONG, ReadWrite, -1)                                                  \
    X(AllowMultiInstancePerUser, Flag, LONG, ReadWrite, 1)                                         \
    X(EnableSSLConnections, Flag, LONG, ReadWrite, 0)                                              \
    X(StartMenuFolder, Text, BSTR, ReadWrite, "")                                                  \
    X(PlaceUnderProgramsFolder, Flag, LONG, ReadWrite, 0)                                          \
    X(WaitOnPrinterCreation, Flag, LONG, ReadWrite, 0)                                             \
    X(AddToClientStartMenu, Flag, LONG, ReadWrite, 0)                                              \
    X(AddShortcutToClientDesktop, Flag, LONG, ReadWrite, 0)                                        \
    X(HideDisabledApp, Flag, LONG, ReadOnly, 0)
