// The lifecycle requests: the driver's description, the start of an
// instance, and opening, closing and reconfiguring its port.
#include "driver/lifecycle.h"

#include <cstring>

#include "context/text.h"
#include "host/host_library.h"
#include "link/line_watch.h"
#include "link/port.h"
#include "qel_version.h"

namespace {

// The banner: a box of single-line box-drawing characters in code page 437.
constexpr char kFull = '\xDB';
constexpr char kDark = '\xB2';
constexpr char kMedium = '\xB1';
constexpr char kLight = '\xB0';
constexpr char kBar = '\xC4';
constexpr char kSide = '\xB3';
constexpr char kTopLeft = '\xDA';
constexpr char kTopRight = '\xBF';
constexpr char kBottomLeft = '\xC0';
constexpr char kBottomRight = '\xD9';

constexpr int kInnerWidth = 60;
constexpr int kInnerLines = 4;
constexpr int kBoxLineLength = kInnerWidth + 3;  // the two sides or corners and the line feed
constexpr int kBannerLength = 1 + (kInnerLines + 2) * kBoxLineLength;

struct BannerText {
    char bytes[kBannerLength + 1];
};

// The title line's shaded band, from the left edge to the title; the right
// side mirrors it.
struct Shade {
    char fill;
    int count;
};
constexpr Shade kBand[] = {{kFull, 14}, {kDark, 3}, {kMedium, 3}, {kLight, 3}};
constexpr const char* kTitle = " Q E L KO VSX ";
constexpr const char* kAuthorLine = "QELKOPHV driver " QELKOPHV_VERSION;

struct BannerCursor {
    BannerText* text;
    int at;
};

constexpr void Put(BannerCursor& cursor, char c, int count = 1) {
    for (int i = 0; i < count; ++i) {
        cursor.text->bytes[cursor.at++] = c;
    }
}

constexpr int TextLength(const char* s) {
    int length = 0;
    while (s[length] != '\0') {
        ++length;
    }
    return length;
}

constexpr void PutText(BannerCursor& cursor, const char* s) {
    for (int i = 0; s[i] != '\0'; ++i) {
        Put(cursor, s[i]);
    }
}

constexpr void PutBorder(BannerCursor& cursor, char left, char right) {
    Put(cursor, left);
    Put(cursor, kBar, kInnerWidth);
    Put(cursor, right);
    Put(cursor, '\n');
}

constexpr void PutCentred(BannerCursor& cursor, const char* s) {
    const int length = TextLength(s);
    const int before = (kInnerWidth - length) / 2;
    Put(cursor, kSide);
    Put(cursor, ' ', before);
    PutText(cursor, s);
    Put(cursor, ' ', kInnerWidth - length - before);
    Put(cursor, kSide);
    Put(cursor, '\n');
}

constexpr void PutTitleLine(BannerCursor& cursor) {
    constexpr int kShades = sizeof kBand / sizeof kBand[0];
    Put(cursor, kSide);
    for (int i = 0; i < kShades; ++i) {
        Put(cursor, kBand[i].fill, kBand[i].count);
    }
    PutText(cursor, kTitle);
    for (int i = kShades - 1; i >= 0; --i) {
        Put(cursor, kBand[i].fill, kBand[i].count);
    }
    Put(cursor, kSide);
    Put(cursor, '\n');
}

constexpr BannerText BuildBanner() {
    BannerText text{};
    BannerCursor cursor{&text, 0};
    Put(cursor, '\n');
    PutBorder(cursor, kTopLeft, kTopRight);
    PutTitleLine(cursor);
    PutCentred(cursor, kClientName);
    PutCentred(cursor, kAuthorLine);
    PutCentred(cursor, "");
    PutBorder(cursor, kBottomLeft, kBottomRight);
    text.bytes[cursor.at] = '\0';
    return text;
}

constexpr BannerText kBannerText = BuildBanner();
static_assert(kBannerText.bytes[kBannerLength - 1] == '\n' && kBannerText.bytes[kBannerLength] == '\0',
              "the banner fills its box exactly");

constexpr uint32_t kInfoWord0 = 70;
constexpr uint32_t kInfoWord4 = 4;
constexpr uint32_t kInfoWord7 = 3;
constexpr LineSettings kLineDefaults = {9600, 8, 0, 0};
constexpr int32_t kMinHostTimeout = 100;
constexpr size_t kHostWhereSize = 400;

// An instance never holds two handles: the port it holds is closed before
// another is opened. False when that close fails; the handle then stays.
bool ReleaseHeldPort(DriverRequest* request) {
    return ClosePort(request) == kOk;
}

// The name as the host gave it, all of its field when it has no NUL.
void LogOpenFailure(const char (&portName)[sizeof PortSettings::portName]) {
    HostLog(kLogLevel, "QELPA : Fail to open %.*s", static_cast<int>(sizeof portName), portName);
}

// The settings a start or reconfiguration asks for, the name's field as the
// host filled it: OpenPort refuses a name with no end rather than cut it.
template <typename Record>
PortSettings SettingsOf(const Record& record, uint16_t lineControl) {
    PortSettings settings{};
    std::memcpy(settings.portName, record.portName, sizeof settings.portName);
    settings.line = record.line;
    settings.lineControl = lineControl;
    return settings;
}

}  // namespace

const char* const kBanner = kBannerText.bytes;

int32_t GetInfo(DriverRequest* request) {
    DriverInfo* info = DataOf<DriverInfo>(request);
    if (info == nullptr) {
        return kFailed;
    }
    info->infoWord0 = kInfoWord0;
    info->deviceName = kDeviceName;
    info->banner = kBanner;
    info->contextSize = sizeof(DriverContext);
    info->infoWord4 = kInfoWord4;
    info->lineDefaults = kLineDefaults;
    info->infoWord7 = kInfoWord7;
    return kOk;
}

int32_t LoadDriver(DriverRequest* request) {
    DriverContext* context = ContextOf(request);
    const PortConfig* config = DataOf<PortConfig>(request);
    if (context == nullptr || config == nullptr) {
        return kFailed;
    }
    g_readyLevel = kReadyLevel;
    WatchStart(context);
    context->portEnabled = config->enabled;
    context->lastSendLength = 0;
    const PortSettings settings = SettingsOf(*config, kLineControlDtrRts);
    // Every load starts from no port, a disabled one too: it then opens
    // nothing and registers nothing. Every 2 of a load names the port asked
    // for in the log.
    if (!ReleaseHeldPort(request)) {
        LogOpenFailure(config->portName);
        return kPortFailed;
    }
    if (config->enabled == 0) {
        NotePortDown(context, PortDown::kDisabled, settings, SerialError{0, SerialOpenCause::kNone});
        return kOk;
    }
    SerialError error{};
    const PortHandle handle = OpenPort(settings, &context->trace, &error);
    if (handle == kNoPort) {
        NotePortDown(context, PortDown::kStartFailed, settings, error);
        LogOpenFailure(config->portName);
        return kPortFailed;
    }
    HoldPort(context, handle);
    SetHeldReadTimeout(context, static_cast<int32_t>(config->timeout));
    AcceptSettings(context, settings);
    context->hostTimeout = static_cast<int32_t>(config->timeout);
    if (context->hostTimeout < kMinHostTimeout) {
        context->hostTimeout = kMinHostTimeout;
    }
    if (const uint16_t status = HostMkClient(kClientName, 1, 0, &context->clientId); status != 0) {
        // Where the start looked for the host library, when it found none.
        char hostWhere[kHostWhereSize];
        HostLibraryWhere(hostWhere, sizeof hostWhere);
        const bool hostFound = hostWhere[0] == '\0';
        TraceReason(&context->trace, "the host refused to register the client \"%s\" (status %u%s%s)", kClientName,
                    static_cast<unsigned>(status),
                    hostFound ? "" : ": no host process library: ", hostFound ? "" : hostWhere);
        return kFailed;
    }
    WatchClientReady(context);
    HostLog(kLogLevel, "QELPHV: loaded successfully");
    return kOk;
}

int32_t WarmStart(DriverRequest* request) {
    DriverContext* context = ContextOf(request);
    ReviveLostPort(context);
    const PortHandle port = context != nullptr ? HeldPort(context) : kNoPort;
    if (port != kNoPort) {
        PurgeInput(port);
    }
    NoteLostPort(context);
    HostLog(kLogLevel, "QELEX: Warm Start.");
    return kOk;
}

int32_t OpenPortRequest(DriverRequest* request) {
    DriverContext* context = ContextOf(request);
    if (context == nullptr) {
        return kFailed;
    }
    // Before a start opened a port there are no settings to open with.
    if (context->settingsMark != kSettingsMark) {
        TraceNothingToOpen(context);
        return kPortFailed;
    }
    if (!ReleaseHeldPort(request)) {
        return kPortFailed;
    }
    SerialError error{};
    const PortHandle handle = OpenPort(context->portSettings, &context->trace, &error);
    TraceOpenAfterFailedStart(context, handle != kNoPort);
    if (handle == kNoPort) {
        NotePortDown(context, PortDown::kOpenFailed, context->portSettings, error);
        return kPortFailed;
    }
    context->portEnabled = 1;
    HoldPort(context, handle);
    return kOk;
}

int32_t ReconfigurePort(DriverRequest* request) {
    DriverContext* context = ContextOf(request);
    const PortChange* change = DataOf<PortChange>(request);
    if (context == nullptr || change == nullptr) {
        return kFailed;
    }
    const PortSettings settings = SettingsOf(*change, context->portSettings.lineControl);
    // A name that can name no port is refused before anything changes: the
    // port held and the settings stay as they were.
    if (!PortNameUsable(settings.portName)) {
        SerialError error{};
        OpenPort(settings, &context->trace, &error);
        if (HeldPort(context) == kNoPort) {
            NotePortDown(context, PortDown::kReconfigureFailed, settings, error);
        }
        return kPortFailed;
    }
    // Also on the same name: the port is reopened so that the new line
    // settings take effect. The held port closes under its own name.
    if (!ReleaseHeldPort(request)) {
        return kPortFailed;
    }
    if (change->timeout != 0) {
        context->hostTimeout = static_cast<int32_t>(change->timeout);
    }
    // Kept whatever the port does next: a later open uses them.
    AcceptSettings(context, settings);
    SerialError error{};
    const PortHandle handle = OpenPort(context->portSettings, &context->trace, &error);
    if (handle == kNoPort) {
        NotePortDown(context, PortDown::kReconfigureFailed, context->portSettings, error);
        return kPortFailed;
    }
    HoldPort(context, handle);
    return kOk;
}
