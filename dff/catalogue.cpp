// SPDX-License-Identifier: Apache-2.0
// The header's vocabulary: field names by group, auxiliary names, the
// enumerated values and their descriptions, and the named lists.
#include "dff/dff.h"

namespace kivf {

CmLhf cmlhf;
KmLhf kmlhf;

namespace {

using Names = std::string_view;

// clang-format off
constexpr std::array<Names, kNumFhdr> kFloatNames = {
    "DELTA", "DEPMIN", "DEPMAX", "SCALE", "ODELTA", "B", "E", "O", "A", "FMT",
    "T0", "T1", "T2", "T3", "T4", "T5", "T6", "T7", "T8", "T9",
    "F",
    "RESP0", "RESP1", "RESP2", "RESP3", "RESP4", "RESP5", "RESP6", "RESP7", "RESP8", "RESP9",
    "STLA", "STLO", "STEL", "STDP", "EVLA", "EVLO", "EVEL", "EVDP", "FHDR40",
    "USER0", "USER1", "USER2", "USER3", "USER4", "USER5", "USER6", "USER7", "USER8", "USER9",
    "DIST", "AZ", "BAZ", "GCARC", "SB", "SDELTA", "DEPMEN", "CMPAZ", "CMPINC",
    "XMINIMUM", "XMAXIMUM", "YMINIMUM", "YMAXIMUM", "ADJTM",
    "FHDR65", "FHDR66", "FHDR67", "FHDR68", "FHDR69", "FHDR70"};

constexpr std::array<Names, kNumNhdr> kIntNames = {
    "NZYEAR", "NZJDAY", "NZHOUR", "NZMIN", "NZSEC", "NZMSEC", "NVHDR", "NINF", "NHST", "NPTS",
    "NSNPTS", "NSN", "NXSIZE", "NYSIZE", "NHDR15"};

constexpr std::array<Names, kNumIhdr> kEnumFieldNames = {
    "IFTYPE", "IDEP", "IZTYPE", "IHDR4", "IINST", "ISTREG", "IEVREG", "IEVTYP", "IQUAL", "ISYNTH",
    "IHDR11", "IHDR12", "IHDR13", "IHDR14", "IHDR15", "IHDR16", "IHDR17", "IHDR18", "IHDR19",
    "IHDR20"};

constexpr std::array<Names, kNumLhdr> kLogicalNames = {
    "LEVEN", "LPSPOL", "LOVROK", "LCALDA", "LHDR5"};

constexpr std::array<Names, kNumKhdr> kTextNames = {
    "KSTNM", "KEVNM", "KEVNMC", "KHOLE", "KO", "KA",
    "KT0", "KT1", "KT2", "KT3", "KT4", "KT5", "KT6", "KT7", "KT8", "KT9",
    "KF", "KUSER0", "KUSER1", "KUSER2", "KCMPNM", "KNETWK", "KDATRD", "KINST"};

constexpr std::array<Names, kNumAux> kAuxNames = {
    "KZDATE", "KZTIME", "KSTCMP", "FILENAME", "AMARKER", "OMARKER", "FMARKER", "KAHDR08",
    "KAHDR09", "T0MARKER", "T1MARKER", "T2MARKER", "T3MARKER", "T4MARKER", "T5MARKER",
    "T6MARKER", "T7MARKER", "T8MARKER", "T9MARKER", "KAHDR20"};

struct EnumValue {
    Names name;
    Names desc;
};

// Ordinals 1 to 51; the rest are unassigned.
constexpr std::array<EnumValue, 51> kEnumValues = {{
    {"ITIME", "TIME SERIES FILE"},
    {"IRLIM", "SPECTRAL FILE-REAL/IMAG"},
    {"IAMPH", "SPECTRAL FILE-AMPL/PHASE"},
    {"IXY", "GENERAL X VS Y FILE"},
    {"IUNKN", "UNKNOWN"},
    {"IDISP", "DISPLACEMENT (NM)"},
    {"IVEL", "VELOCITY (NM/SEC)"},
    {"IACC", "ACCELERATION (CM/SEC/SEC)"},
    {"IB", "BEGIN TIME"},
    {"IDAY", "GMT DAY"},
    {"IO", "EVENT ORIGIN TIME"},
    {"IA", "FIRST ARRIVAL TIME"},
    {"IT0", "USER DEFINED TIME PICK 0"},
    {"IT1", "USER DEFINED TIME PICK 1"},
    {"IT2", "USER DEFINED TIME PICK 2"},
    {"IT3", "USER DEFINED TIME PICK 3"},
    {"IT4", "USER DEFINED TIME PICK 4"},
    {"IT5", "USER DEFINED TIME PICK 5"},
    {"IT6", "USER DEFINED TIME PICK 6"},
    {"IT7", "USER DEFINED TIME PICK 7"},
    {"IT8", "USER DEFINED TIME PICK 8"},
    {"IT9", "USER DEFINED TIME PICK 9"},
    {"IRADNV", "RADIAL (NTS)"},
    {"ITANNV", "TANGENTIAL (NTS)"},
    {"IRADEV", "RADIAL (EVENT)"},
    {"ITANEV", "TANGENTIAL (EV)"},
    {"INORTH", "NORTH POSITIVE"},
    {"IEAST", "EAST POSITIVE"},
    {"IHORZA", "HORIZONTAL (ARB)"},
    {"IDOWN", "DOWN POSITIVE"},
    {"IUP", "UP POSITIVE"},
    {"IHBWBB", "HBW BROADBAND"},
    {"IWWSN1", "WWSN 15-100"},
    {"IWWSN2", "WWSN 30-100"},
    {"IHGLP", "HIGH-GAIN LONG-PERIOD"},
    {"ISRO", "SRO"},
    {"INUCL", "NUCLEAR EVENT"},
    {"IPREN", "NUCLEAR PRE-SHOT EVENT"},
    {"IPOSTN", "NUCLEAR POST-SHOT EVENT"},
    {"IQUAKE", "EARTHQUAKE"},
    {"IPREQ", "FORESHOCK"},
    {"IPOSTQ", "AFTERSHOCK"},
    {"ICHEM", "CHEMICAL EXPLOSION"},
    {"IOTHER", "OTHER (DETAILS IN INFO SEC)"},
    {"IGOOD", "GOOD"},
    {"IGLCH", "GLICHES"},
    {"IDROP", "DROPOUTS"},
    {"ILOWSN", "LOW SIGNAL TO NOISE RATIO"},
    {"IRLDTA", "REAL DATA"},
    {"IVOLTS", "VELOCITY (VOLTS)"},
    {"IXYZ", "GENERAL XYZ (3-D) FILE"},
}};

constexpr std::array<Names, kNumLists> kListNames = {"DEFAULT", "PICKS", "SPECIAL", "STD"};

// Members in display order.
constexpr std::array<Names, 81> kDefaultList = {
    "NPTS", "B", "E", "IFTYPE", "LEVEN", "DELTA", "ODELTA", "IDEP", "DEPMIN", "DEPMAX", "DEPMEN",
    "OMARKER", "AMARKER",
    "T0MARKER", "T1MARKER", "T2MARKER", "T3MARKER", "T4MARKER",
    "T5MARKER", "T6MARKER", "T7MARKER", "T8MARKER", "T9MARKER",
    "FMARKER", "KZDATE", "KZTIME", "IZTYPE", "KINST",
    "RESP0", "RESP1", "RESP2", "RESP3", "RESP4", "RESP5", "RESP6", "RESP7", "RESP8", "RESP9",
    "KDATRD", "KSTNM", "CMPAZ", "CMPINC", "ISTREG", "STLA", "STLO", "STEL", "STDP",
    "KEVNM", "IEVREG", "EVLA", "EVLO", "EVEL", "EVDP", "IEVTYP", "KHOLE",
    "DIST", "AZ", "BAZ", "GCARC", "LOVROK", "IQUAL", "ISYNTH",
    "USER0", "USER1", "USER2", "USER3", "USER4", "USER5", "USER6", "USER7", "USER8", "USER9",
    "KUSER0", "KUSER1", "KUSER2", "NXSIZE", "XMINIMUM", "XMAXIMUM", "NYSIZE", "YMINIMUM",
    "YMAXIMUM"};

constexpr std::array<Names, 18> kPicksList = {
    "NPTS", "B", "E", "OMARKER", "AMARKER",
    "T0MARKER", "T1MARKER", "T2MARKER", "T3MARKER", "T4MARKER",
    "T5MARKER", "T6MARKER", "T7MARKER", "T8MARKER", "T9MARKER",
    "FMARKER", "KZDATE", "KZTIME"};
// clang-format on

enum : std::size_t { kDefault = 0, kPicks = 1, kSpecial = 2, kStd = 3 };

template <std::size_t N, std::size_t M>
void store(std::array<Text<N>, M>& dst, const std::array<Names, M>& src) {
    for (std::size_t j = 0; j < M; ++j) dst[j].set(src[j]);
}

// Members of one list from its first slot on; returns the count.
template <std::size_t M>
std::int32_t storelist(KmLhf& k, std::size_t list, const std::array<Names, M>& src) {
    const auto start = static_cast<std::size_t>(kListStart[list] - 1);
    for (std::size_t j = 0; j < M; ++j) k.klist[start + j].set(src[j]);
    return static_cast<std::int32_t>(M);
}

} // namespace

void inilhf(CmLhf& c, KmLhf& k) {
    // Slots that no list uses read as blank names.
    for (auto& slot : k.klist) blank(slot);

    c.nlists = kNumLists;
    store(k.klistnm, kListNames);
    c.nlistmem[kDefault] = storelist(k, kDefault, kDefaultList);
    c.nlistmem[kPicks] = storelist(k, kPicks, kPicksList);
    c.nlistmem[kSpecial] = 0;
    // STD starts as a copy of DEFAULT.
    const auto from = static_cast<std::size_t>(kListStart[kDefault] - 1);
    const auto to = static_cast<std::size_t>(kListStart[kStd] - 1);
    for (std::size_t j = 0; j < static_cast<std::size_t>(c.nlistmem[kDefault]); ++j)
        k.klist[to + j] = k.klist[from + j];
    c.nlistmem[kStd] = c.nlistmem[kDefault];

    store(k.kfhdr, kFloatNames);
    store(k.knhdr, kIntNames);
    store(k.kihdr, kEnumFieldNames);
    store(k.klhdr, kLogicalNames);
    store(k.kkhdr, kTextNames);
    store(k.kahdr, kAuxNames);

    for (std::size_t j = 0; j < k.kienm.size(); ++j) {
        const bool named = j < kEnumValues.size();
        k.kienm[j].set(named ? kEnumValues[j].name : "UNUSED");
        k.kdienm[j].set(named ? kEnumValues[j].desc : "UNUSED");
    }
}

void inilhf() {
    inilhf(cmlhf, kmlhf);
}

const FieldCatalogue& fieldcatalogue() {
    static const FieldCatalogue made = [] {
        FieldCatalogue f{};
        inilhf(f.lists, f.names);
        return f;
    }();
    return made;
}

} // namespace kivf
