// The KIV header: catalogue, defaults, access by name. File bytes are read
// back here, never through the writer.
#include "dff/dff.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace kivf;
using test::TempDir;

namespace {

// Catalogue texts of our own, so that the output shows which file was loaded.
const char* const kCatalogue = " 101 T-create failed:\n"
                               " 115 T-write failed.\n"
                               " 116 T-no unit.\n"
                               "1337 T-no such field:\n"
                               "1400 T-NPTS bad:\n"
                               "1401 T-y short:\n"
                               "1402 T-x short:\n"
                               "1403 T-NPTS huge:\n";
const std::string kBel = "\a";

// Standard output (unit 6) into a file for the duration.
class Capture {
  public:
    explicit Capture(std::string file) : file_(std::move(file)) {
        std::fflush(stdout);
        saved_ = ::dup(1);
        const int fd = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 1);
        ::close(fd);
    }
    ~Capture() { restore(); }
    std::string text() {
        restore();
        return test::slurp(file_);
    }

  private:
    void restore() {
        if (saved_ < 0) return;
        uflushall();
        std::fflush(stdout);
        ::dup2(saved_, 1);
        ::close(saved_);
        saved_ = -1;
    }
    std::string file_;
    int saved_ = -1;
};

std::vector<std::string> words(const std::string& s) {
    std::istringstream in(s);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

std::string pad(const std::string& s, std::size_t n) {
    return (s + std::string(n, ' ')).substr(0, n);
}

// Every process-wide record as at program start, then the first reset.
struct DffHeader : ::testing::Test {
    TempDir aux, dir;
    void SetUp() override {
        test::resetall();
        test::spit(aux / "messages", kCatalogue);
        ::setenv("KIVAUX", aux.path.c_str(), 1);
        newhdr();
    }
    void TearDown() override { test::resetstate(); }
};

} // namespace

// ------------------------------------------------------------ catalogue ----

struct Slot {
    std::int32_t slot;
    const char* name;
};
#define FS(n)                                                                                      \
    Slot {                                                                                         \
        fslot::n, #n                                                                               \
    }
#define NS(n)                                                                                      \
    Slot {                                                                                         \
        nslot::n, #n                                                                               \
    }
#define IS(n)                                                                                      \
    Slot {                                                                                         \
        islot::n, #n                                                                               \
    }
#define LS(n)                                                                                      \
    Slot {                                                                                         \
        lslot::n, #n                                                                               \
    }
#define KS(n)                                                                                      \
    Slot {                                                                                         \
        kslot::n, #n                                                                               \
    }
// clang-format off
const std::vector<Slot> kFloat = {
    FS(DELTA), FS(DEPMIN), FS(DEPMAX), FS(SCALE), FS(ODELTA), FS(B), FS(E), FS(O), FS(A), FS(FMT),
    FS(T0), FS(T1), FS(T2), FS(T3), FS(T4), FS(T5), FS(T6), FS(T7), FS(T8), FS(T9), FS(F),
    FS(RESP0), FS(RESP1), FS(RESP2), FS(RESP3), FS(RESP4), FS(RESP5), FS(RESP6), FS(RESP7),
    FS(RESP8), FS(RESP9), FS(STLA), FS(STLO), FS(STEL), FS(STDP), FS(EVLA), FS(EVLO), FS(EVEL),
    FS(EVDP), FS(FHDR40), FS(USER0), FS(USER1), FS(USER2), FS(USER3), FS(USER4), FS(USER5),
    FS(USER6), FS(USER7), FS(USER8), FS(USER9), FS(DIST), FS(AZ), FS(BAZ), FS(GCARC), FS(SB),
    FS(SDELTA), FS(DEPMEN), FS(CMPAZ), FS(CMPINC), FS(XMINIMUM), FS(XMAXIMUM), FS(YMINIMUM),
    FS(YMAXIMUM), FS(ADJTM), FS(FHDR65), FS(FHDR66), FS(FHDR67), FS(FHDR68), FS(FHDR69),
    FS(FHDR70)};
const std::vector<Slot> kInt = {
    NS(NZYEAR), NS(NZJDAY), NS(NZHOUR), NS(NZMIN), NS(NZSEC), NS(NZMSEC), NS(NVHDR), NS(NINF),
    NS(NHST), NS(NPTS), NS(NSNPTS), NS(NSN), NS(NXSIZE), NS(NYSIZE), NS(NHDR15)};
const std::vector<Slot> kEnumField = {
    IS(IFTYPE), IS(IDEP), IS(IZTYPE), IS(IHDR4), IS(IINST), IS(ISTREG), IS(IEVREG), IS(IEVTYP),
    IS(IQUAL), IS(ISYNTH), IS(IHDR11), IS(IHDR12), IS(IHDR13), IS(IHDR14), IS(IHDR15), IS(IHDR16),
    IS(IHDR17), IS(IHDR18), IS(IHDR19), IS(IHDR20)};
const std::vector<Slot> kLogical = {LS(LEVEN), LS(LPSPOL), LS(LOVROK), LS(LCALDA), LS(LHDR5)};
const std::vector<Slot> kText = {
    KS(KSTNM), KS(KEVNM), KS(KEVNMC), KS(KHOLE), KS(KO), KS(KA), KS(KT0), KS(KT1), KS(KT2),
    KS(KT3), KS(KT4), KS(KT5), KS(KT6), KS(KT7), KS(KT8), KS(KT9), KS(KF), KS(KUSER0),
    KS(KUSER1), KS(KUSER2), KS(KCMPNM), KS(KNETWK), KS(KDATRD), KS(KINST)};
// clang-format on

template <std::size_t M>
void expectgroup(const std::vector<Slot>& want, const std::array<Text<8>, M>& list) {
    ASSERT_EQ(want.size(), M);
    for (std::size_t j = 0; j < M; ++j) {
        EXPECT_EQ(want[j].slot, static_cast<std::int32_t>(j + 1)) << want[j].name;
        EXPECT_EQ(list[j].view(), pad(want[j].name, 8)) << j + 1;
        EXPECT_EQ(nequal(pad(want[j].name, 8), list), static_cast<std::int32_t>(j + 1));
    }
}

TEST_F(DffHeader, EverySlotConstantAndCatalogueNameAsTabled) {
    expectgroup(kFloat, kmlhf.kfhdr);
    expectgroup(kInt, kmlhf.knhdr);
    expectgroup(kEnumField, kmlhf.kihdr);
    expectgroup(kLogical, kmlhf.klhdr);
    expectgroup(kText, kmlhf.kkhdr);
    const auto aux = words("KZDATE KZTIME KSTCMP FILENAME AMARKER OMARKER FMARKER KAHDR08 KAHDR09 "
                           "T0MARKER T1MARKER T2MARKER T3MARKER T4MARKER T5MARKER T6MARKER "
                           "T7MARKER T8MARKER T9MARKER KAHDR20");
    ASSERT_EQ(aux.size(), kmlhf.kahdr.size());
    for (std::size_t j = 0; j < aux.size(); ++j) EXPECT_EQ(kmlhf.kahdr[j].view(), pad(aux[j], 8));
    // Names are found only in their own group, auxiliary names in none.
    EXPECT_EQ(nequal("NPTS    ", kmlhf.kfhdr), 0);
    for (const char* name : {"T0MARKER", "KZDATE  "}) {
        EXPECT_EQ(nequal(name, kmlhf.kfhdr), 0);
        EXPECT_EQ(nequal(name, kmlhf.knhdr), 0);
        EXPECT_EQ(nequal(name, kmlhf.kkhdr), 0);
    }
}

TEST_F(DffHeader, EnumerationNamesDescriptionsAndConstants) {
    const std::string table =
        "ITIME|TIME SERIES FILE|IRLIM|SPECTRAL FILE-REAL/IMAG|IAMPH|SPECTRAL FILE-AMPL/PHASE|"
        "IXY|GENERAL X VS Y FILE|IUNKN|UNKNOWN|IDISP|DISPLACEMENT (NM)|IVEL|VELOCITY (NM/SEC)|"
        "IACC|ACCELERATION (CM/SEC/SEC)|IB|BEGIN TIME|IDAY|GMT DAY|IO|EVENT ORIGIN TIME|"
        "IA|FIRST ARRIVAL TIME|IT0|USER DEFINED TIME PICK 0|IT1|USER DEFINED TIME PICK 1|"
        "IT2|USER DEFINED TIME PICK 2|IT3|USER DEFINED TIME PICK 3|IT4|USER DEFINED TIME PICK 4|"
        "IT5|USER DEFINED TIME PICK 5|IT6|USER DEFINED TIME PICK 6|IT7|USER DEFINED TIME PICK 7|"
        "IT8|USER DEFINED TIME PICK 8|IT9|USER DEFINED TIME PICK 9|IRADNV|RADIAL (NTS)|"
        "ITANNV|TANGENTIAL (NTS)|IRADEV|RADIAL (EVENT)|ITANEV|TANGENTIAL (EV)|"
        "INORTH|NORTH POSITIVE|IEAST|EAST POSITIVE|IHORZA|HORIZONTAL (ARB)|IDOWN|DOWN POSITIVE|"
        "IUP|UP POSITIVE|IHBWBB|HBW BROADBAND|IWWSN1|WWSN 15-100|IWWSN2|WWSN 30-100|"
        "IHGLP|HIGH-GAIN LONG-PERIOD|ISRO|SRO|INUCL|NUCLEAR EVENT|IPREN|NUCLEAR PRE-SHOT EVENT|"
        "IPOSTN|NUCLEAR POST-SHOT EVENT|IQUAKE|EARTHQUAKE|IPREQ|FORESHOCK|IPOSTQ|AFTERSHOCK|"
        "ICHEM|CHEMICAL EXPLOSION|IOTHER|OTHER (DETAILS IN INFO SEC)|IGOOD|GOOD|IGLCH|GLICHES|"
        "IDROP|DROPOUTS|ILOWSN|LOW SIGNAL TO NOISE RATIO|IRLDTA|REAL DATA|"
        "IVOLTS|VELOCITY (VOLTS)|IXYZ|GENERAL XYZ (3-D) FILE";
    std::vector<std::string> cells;
    std::istringstream in(table);
    for (std::string c; std::getline(in, c, '|');) cells.push_back(c);
    ASSERT_EQ(cells.size(), 102U);
    for (std::size_t n = 0; n < 60; ++n) {
        const std::string name = n < 51 ? cells[2 * n] : "UNUSED";
        const std::string desc = n < 51 ? cells[2 * n + 1] : "UNUSED";
        EXPECT_EQ(kmlhf.kienm[n].view(), pad(name, 8)) << n + 1;
        EXPECT_EQ(kmlhf.kdienm[n].view(), pad(desc, 32)) << n + 1;
        EXPECT_EQ(cmhdr.ienm[n], static_cast<std::int32_t>(n + 1));
    }
    const std::pair<std::int32_t, const char*> named[] = {
        {ienum::ITIME, "ITIME"}, {ienum::IB, "IB"},         {ienum::IRADNV, "IRADNV"},
        {ienum::ISRO, "ISRO"},   {ienum::IOTHER, "IOTHER"}, {ienum::IXYZ, "IXYZ"}};
    for (const auto& [ord, name] : named)
        EXPECT_EQ(kmlhf.kienm[static_cast<std::size_t>(ord - 1)].view(), pad(name, 8));
}

TEST_F(DffHeader, ListsDefaultPicksSpecialStd) {
    const auto def = words(
        "NPTS B E IFTYPE LEVEN DELTA ODELTA IDEP DEPMIN DEPMAX DEPMEN OMARKER AMARKER T0MARKER "
        "T1MARKER T2MARKER T3MARKER T4MARKER T5MARKER T6MARKER T7MARKER T8MARKER T9MARKER FMARKER "
        "KZDATE KZTIME IZTYPE KINST RESP0 RESP1 RESP2 RESP3 RESP4 RESP5 RESP6 RESP7 RESP8 RESP9 "
        "KDATRD KSTNM CMPAZ CMPINC ISTREG STLA STLO STEL STDP KEVNM IEVREG EVLA EVLO EVEL EVDP "
        "IEVTYP KHOLE DIST AZ BAZ GCARC LOVROK IQUAL ISYNTH USER0 USER1 USER2 USER3 USER4 USER5 "
        "USER6 USER7 USER8 USER9 KUSER0 KUSER1 KUSER2 NXSIZE XMINIMUM XMAXIMUM NYSIZE YMINIMUM "
        "YMAXIMUM");
    const auto picks = words("NPTS B E OMARKER AMARKER T0MARKER T1MARKER T2MARKER T3MARKER "
                             "T4MARKER T5MARKER T6MARKER T7MARKER T8MARKER T9MARKER FMARKER "
                             "KZDATE KZTIME");
    ASSERT_EQ(def.size(), 81U);
    ASSERT_EQ(picks.size(), 18U);
    EXPECT_EQ(cmlhf.nlists, 4);
    EXPECT_EQ(cmlhf.nlistmem, (std::array<std::int32_t, 4>{81, 18, 0, 81}));
    const char* listnames[] = {"DEFAULT", "PICKS", "SPECIAL", "STD"};
    for (std::size_t j = 0; j < 4; ++j) EXPECT_EQ(kmlhf.klistnm[j].view(), pad(listnames[j], 8));
    // Slots 1-81 DEFAULT, 82-99 PICKS, 100-119 unused, 120-200 STD.
    for (std::size_t s = 0; s < 200; ++s) {
        std::string want(8, ' ');
        if (s < 81) want = pad(def[s], 8);
        if (s >= 81 && s < 99) want = pad(picks[s - 81], 8);
        if (s >= 119) want = pad(def[s - 119], 8);
        EXPECT_EQ(kmlhf.klist[s].view(), want) << "slot " << s + 1;
    }
}

// --------------------------------------------------- defaults and reset ----

void expectdefaults() {
    for (std::int32_t s = 1; s <= kNumFhdr; ++s) EXPECT_EQ(cmhdr.f(s), -12345.0F) << s;
    for (std::int32_t s = 1; s <= kNumNhdr; ++s) {
        const std::int32_t want = s == nslot::NVHDR                      ? 6
                                  : s == nslot::NINF || s == nslot::NHST ? 0
                                                                         : -12345;
        EXPECT_EQ(cmhdr.n(s), want) << s;
    }
    for (std::int32_t s = 1; s <= kNumIhdr; ++s) EXPECT_EQ(cmhdr.i(s), s == 1 ? 1 : -12345) << s;
    EXPECT_EQ(cmhdr.lhdr, (std::array<std::int32_t, 5>{1, 0, 1, 1, 0}));
    for (std::int32_t s = 1; s <= kNumKhdr; ++s) EXPECT_EQ(kmhdr.k(s).view(), "-12345  ") << s;
}

TEST_F(DffHeader, FirstResetSetsConstantsDefaultsAndStartsMessages) {
    EXPECT_EQ(cmhdr.curhver, 6);
    EXPECT_EQ(cmhdr.undfflt, -12345.0F);
    EXPECT_EQ(cmhdr.undfint, -12345);
    EXPECT_EQ(cmhdr.undfenm, -12345);
    EXPECT_EQ(kmhdr.undftxt.view(), "-12345  ");
    expectdefaults();
    EXPECT_EQ(cmmsg.ncatmsg, 8); // our catalogue, every line
    EXPECT_EQ(cmmsg.ndest, 1);
    EXPECT_EQ(cmmsg.destunit[0], 6);
}

TEST_F(DffHeader, SecondResetRestoresEverythingWithoutInitialisingAgain) {
    for (std::int32_t s = 1; s <= kNumFhdr; ++s) cmhdr.f(s) = static_cast<float>(s);
    for (std::int32_t s = 1; s <= kNumNhdr; ++s) cmhdr.n(s) = s;
    for (std::int32_t s = 1; s <= kNumIhdr; ++s) cmhdr.i(s) = s + 7;
    cmhdr.lhdr = {0, 1, 0, 0, 1};
    for (std::int32_t s = 1; s <= kNumKhdr; ++s) kmhdr.k(s).set("SET");
    // Marks that a second initialisation would wipe out.
    kmlhf.kfhdr[0].set("MARKED");
    cmlhf.nlistmem[2] = 5;
    const std::int32_t loaded = cmmsg.ncatmsg;
    cmmsg.ncatmsg = loaded - 1;
    cmhdr.ienm[0] = 1;

    newhdr();
    expectdefaults();
    EXPECT_EQ(kmlhf.kfhdr[0].view(), "MARKED  ");
    EXPECT_EQ(cmlhf.nlistmem[2], 5);
    EXPECT_EQ(cmmsg.ncatmsg, loaded - 1);

    // The constants are what the reset uses, and they are not set again.
    cmhdr.curhver = 7;
    cmhdr.undfint = 99;
    newhdr();
    EXPECT_EQ(cmhdr.n(nslot::NVHDR), 7);
    EXPECT_EQ(cmhdr.n(nslot::NZYEAR), 99);
}

// ------------------------------------------------------ access by name ----

struct Snapshot {
    CmHdr c = cmhdr;
    KmHdr k = kmhdr;
    bool same() const {
        return std::memcmp(&c, &cmhdr, sizeof c) == 0 && std::memcmp(&k, &kmhdr, sizeof k) == 0;
    }
};

TEST_F(DffHeader, NamesInAnyCaseTrailingBlanksAndOnlyEightCharactersCount) {
    struct Case {
        char group; // f, n or k
        std::string name;
        std::int32_t slot;
    } cases[] = {
        {'f', "delta", fslot::DELTA},        {'f', "DeLtA", fslot::DELTA},
        {'f', "USER9   ", fslot::USER9},     {'f', "b", fslot::B},
        {'f', "fhdr40", fslot::FHDR40},      {'n', "NPTS      ", nslot::NPTS},
        {'n', "NZYEAR   X", nslot::NZYEAR},  {'n', "nzmsec", nslot::NZMSEC},
        {'n', "NHDR15", nslot::NHDR15},      {'k', "kcmpnm", kslot::KCMPNM},
        {'k', "KSTNM   ZZZZ", kslot::KSTNM}, {'k', "kevnmc", kslot::KEVNMC},
    };
    for (const auto& c : cases) {
        newhdr();
        std::int32_t nerr = -1;
        Snapshot before;
        if (c.group == 'f') {
            setfhv(c.name, 2.5F, nerr);
            before.c.f(c.slot) = 2.5F;
        } else if (c.group == 'n') {
            setnhv(c.name, 42, nerr);
            before.c.n(c.slot) = 42;
        } else {
            setkhv(c.name, "VAL", nerr);
            before.k.k(c.slot).set("VAL");
        }
        EXPECT_EQ(nerr, 0) << c.name;
        EXPECT_TRUE(before.same()) << c.name << ": exactly the one field changes";
    }
}

TEST_F(DffHeader, UnknownNameIs1337PrintedWithTheNameAndChangesNothing) {
    struct Case {
        char group;
        std::string name;
    } cases[] = {
        {'f', "NPTS"},      {'n', "DELTA"}, {'k', " KSTNM"},   {'k', "KZDATE"},
        {'n', "IFTYPE"},    {'f', "LEVEN"}, {'f', "T0MARKER"}, {'f', ""},
        {'f', "DELTAXYZW"}, {'n', "NPT S"}, {'k', "KEVNM2"},   {'f', "        DELTA"},
    };
    for (const auto& c : cases) {
        Snapshot before;
        std::int32_t nerr = 0;
        Capture out(dir / "stdout");
        if (c.group == 'f') setfhv(c.name, 1.0F, nerr);
        if (c.group == 'n') setnhv(c.name, 1, nerr);
        if (c.group == 'k') setkhv(c.name, "X", nerr);
        const std::string printed = out.text();
        EXPECT_EQ(nerr, 1337) << '"' << c.name << '"';
        EXPECT_TRUE(before.same()) << c.name;
        // wrtmsg layout: BEL, "ERROR:", a blank, the text; the name as given,
        // trailing blanks dropped; no message number.
        std::string name = c.name;
        name.erase(name.find_last_not_of(' ') + 1);
        const std::string want =
            kBel + "ERROR: T-no such field:" + (name.empty() ? "" : " " + name) + "\n";
        EXPECT_EQ(printed, want) << '"' << c.name << '"';
    }
}

TEST_F(DffHeader, EventNameSplitsOverTwoSlots) {
    struct Case {
        std::string value, first, second;
    } cases[] = {
        {"QUAKE", "QUAKE   ", "        "},
        {"EIGHTCHR", "EIGHTCHR", "        "},
        {"ABCDEFGHIJKLMNOP", "ABCDEFGH", "IJKLMNOP"},
        {"ABCDEFGHIJKLMNOPQRST", "ABCDEFGH", "IJKLMNOP"},
        {"", "        ", "        "},
    };
    for (const auto& c : cases) {
        newhdr();
        std::int32_t nerr = -1;
        setkhv("KEVNMC", "OLDHALF", nerr);
        setkhv("kevnm", c.value, nerr);
        EXPECT_EQ(nerr, 0);
        EXPECT_EQ(kmhdr.k(kslot::KEVNM).view(), c.first) << c.value;
        EXPECT_EQ(kmhdr.k(kslot::KEVNMC).view(), c.second) << c.value;
        EXPECT_EQ(kmhdr.k(kslot::KHOLE).view(), "-12345  ");
    }
    // Other text fields keep 8 characters and leave their neighbour alone.
    std::int32_t nerr = -1;
    setkhv("KEVNM", "ABCDEFGHIJKLMNOP", nerr);
    setkhv("KSTNM", "STATION12345", nerr);
    EXPECT_EQ(kmhdr.k(kslot::KSTNM).view(), "STATION1");
    EXPECT_EQ(kmhdr.k(kslot::KEVNM).view(), "ABCDEFGH");
    setkhv("KEVNMC", "SECOND", nerr);
    EXPECT_EQ(kmhdr.k(kslot::KEVNM).view(), "ABCDEFGH");
    EXPECT_EQ(kmhdr.k(kslot::KEVNMC).view(), "SECOND  ");
}

// -------------------------------------------------------------- writer ----

namespace {

std::int32_t i32at(const std::string& b, std::size_t off) {
    std::int32_t v = 0;
    std::memcpy(&v, b.data() + off, 4);
    return v;
}
float f32at(const std::string& b, std::size_t off) {
    float v = 0;
    std::memcpy(&v, b.data() + off, 4);
    return v;
}
std::uint32_t bitsat(const std::string& b, std::size_t off) {
    std::uint32_t v = 0;
    std::memcpy(&v, b.data() + off, 4);
    return v;
}

std::vector<float> ramp(std::size_t n, float base) {
    std::vector<float> v(n);
    for (std::size_t j = 0; j < n; ++j) v[j] = base + static_cast<float>(j) * 0.25F;
    return v;
}

// Names in a directory, sorted.
std::vector<std::string> listing(const std::filesystem::path& d) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(d))
        out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

struct DffWriter : DffHeader {
    std::int32_t write(const std::string& name, std::span<const float> x, std::span<const float> y,
                       std::string* printed = nullptr) {
        std::int32_t nerr = -1;
        Capture out(aux / "stdout"); // beside the catalogue: dir stays as the writer left it
        wkiv0(name, x, y, nerr);
        const std::string text = out.text();
        if (printed != nullptr) *printed = text;
        return nerr;
    }
    void setnpts(std::int32_t n) {
        std::int32_t nerr = -1;
        setnhv("NPTS", n, nerr);
        ASSERT_EQ(nerr, 0);
    }
};

} // namespace

TEST_F(DffWriter, EmptyHeaderFileIs632BytesOfDefaults) {
    setnpts(0);
    const std::string f = dir / "zero.kiv";
    EXPECT_EQ(write(f, {}, {}), 0);
    const std::string b = test::slurp(f);
    ASSERT_EQ(b.size(), 632U);
    EXPECT_EQ(i32at(b, 304), 6);                           // NVHDR
    EXPECT_EQ(i32at(b, 316), 0);                           // NPTS
    EXPECT_EQ(i32at(b, 308), 0);                           // NINF
    EXPECT_EQ(i32at(b, 280), -12345);                      // NZYEAR
    EXPECT_EQ(f32at(b, 4), -12345.0F);                     // DEPMIN
    EXPECT_EQ(bitsat(b, 0), 0xC640E400U);                  // DELTA, in this machine's order
    EXPECT_EQ(i32at(b, 340), 1);                           // IFTYPE = ITIME
    EXPECT_EQ(i32at(b, 344), -12345);                      // IDEP
    for (std::size_t off : {420U, 424U, 428U, 432U, 436U}) // LEVEN..LHDR5
        EXPECT_EQ(i32at(b, off), off == 424 || off == 436 ? 0 : 1) << off;
    for (std::size_t off = 440; off < 632; off += 8) EXPECT_EQ(b.substr(off, 8), "-12345  ");
}

TEST_F(DffWriter, EveryNamedFieldLandsAtItsByte) {
    std::int32_t nerr = 0;
    for (const auto& s : kFloat) {
        setfhv(s.name, 1000.0F + static_cast<float>(s.slot), nerr);
        ASSERT_EQ(nerr, 0) << s.name;
    }
    for (const auto& s : kInt) setnhv(s.name, 2000 + s.slot, nerr);
    setnpts(0);
    for (const auto& s : kText) setkhv(s.name, s.name, nerr);
    const std::string f = dir / "all.kiv";
    ASSERT_EQ(write(f, {}, {}), 0);
    const std::string b = test::slurp(f);
    ASSERT_EQ(b.size(), 632U);
    for (const auto& s : kFloat)
        EXPECT_EQ(f32at(b, 4 * static_cast<std::size_t>(s.slot - 1)),
                  1000.0F + static_cast<float>(s.slot))
            << s.name;
    for (const auto& s : kInt)
        EXPECT_EQ(i32at(b, 276 + 4 * static_cast<std::size_t>(s.slot)),
                  s.slot == nslot::NPTS ? 0 : 2000 + s.slot)
            << s.name;
    for (const auto& s : kText)
        EXPECT_EQ(b.substr(440 + 8 * static_cast<std::size_t>(s.slot - 1), 8), pad(s.name, 8))
            << s.name;
}

TEST_F(DffWriter, SamplesFollowTheHeaderAndIndependentValuesOnlyWhenUneven) {
    setnpts(1000);
    const auto y = ramp(1000, 1.0F);
    const auto x = ramp(1000, -500.0F);
    const std::string even = dir / "even.kiv", uneven = dir / "uneven.kiv";
    // LEVEN true: the independent array is never read, so an empty one will do.
    EXPECT_EQ(write(even, {}, y), 0);
    cmhdr.l(lslot::LEVEN) = 0;
    EXPECT_EQ(write(uneven, x, y), 0);

    const std::string e = test::slurp(even), u = test::slurp(uneven);
    ASSERT_EQ(e.size(), 4632U);
    ASSERT_EQ(u.size(), 8632U);
    EXPECT_EQ(i32at(e, 420), 1);
    EXPECT_EQ(i32at(u, 420), 0);
    EXPECT_EQ(e.substr(440, 192), u.substr(440, 192));
    for (std::size_t j = 0; j < 1000; ++j) {
        EXPECT_EQ(f32at(e, 632 + 4 * j), y[j]) << j;
        EXPECT_EQ(f32at(u, 632 + 4 * j), y[j]) << j;
        EXPECT_EQ(f32at(u, 4632 + 4 * j), x[j]) << j;
    }
}

TEST_F(DffWriter, EventNameOccupiesBytes448To463) {
    std::int32_t nerr = -1;
    setnpts(0);
    setkhv("KEVNM", "NORTHERN CALIFOR", nerr);
    setkhv("KSTNM", "ABC", nerr);
    const std::string f = dir / "ev.kiv";
    ASSERT_EQ(write(f, {}, {}), 0);
    const std::string b = test::slurp(f);
    EXPECT_EQ(b.substr(440, 8), "ABC     ");
    EXPECT_EQ(b.substr(448, 16), "NORTHERN CALIFOR");
    EXPECT_EQ(b.substr(464, 8), "-12345  "); // KHOLE
}

TEST_F(DffWriter, ReplacesALongerFileAndRewritesIdentically) {
    const std::string f = dir / "same.kiv";
    test::spit(f, std::string(100000, 'z'));
    setnpts(10);
    const auto y = ramp(10, 3.0F);
    ASSERT_EQ(write(f, {}, y), 0);
    const std::string first = test::slurp(f);
    EXPECT_EQ(first.size(), 672U);
    ASSERT_EQ(write(f, {}, y), 0);
    EXPECT_EQ(test::slurp(f), first);
    EXPECT_EQ(listing(dir.path), std::vector<std::string>{"same.kiv"});
    // A name padded with blanks names the same file.
    ASSERT_EQ(write(f + "     ", {}, y), 0);
    EXPECT_EQ(listing(dir.path), std::vector<std::string>{"same.kiv"});
}

TEST_F(DffWriter, RefusesUndefinedNegativeHugeNptsAndShortArrays) {
    struct Case {
        std::int32_t npts;
        bool leven;
        std::size_t ny, nx;
        std::int32_t nerr;
        std::string tail; // what follows the catalogue text and the name
    } cases[] = {
        {-12345, true, 10, 10, 1400, "(NPTS = -12345 )"},
        {-1, true, 10, 10, 1400, "(NPTS = -1 )"},
        {11, true, 10, 0, 1401, "(NPTS = 11 array length = 10 )"},
        {10, false, 10, 9, 1402, "(NPTS = 10 array length = 9 )"},
        {10, false, 9, 10, 1401, "(NPTS = 10 array length = 9 )"},
        {1073741745, false, 0, 0, 1403, "(NPTS = 1073741745 )"},
        {2147483647, true, 0, 0, 1403, "(NPTS = 2147483647 )"},
    };
    const std::map<std::int32_t, std::string> texts = {
        {1400, "T-NPTS bad:"}, {1401, "T-y short:"}, {1402, "T-x short:"}, {1403, "T-NPTS huge:"}};
    const std::string old = dir / "old.kiv";
    test::spit(old, "previous contents");
    for (const auto& c : cases) {
        setnpts(c.npts);
        cmhdr.l(lslot::LEVEN) = c.leven ? 1 : 0;
        const std::vector<float> y(c.ny, 1.0F), x(c.nx, 2.0F);
        std::string printed;
        EXPECT_EQ(write(old, x, y, &printed), c.nerr) << c.npts;
        EXPECT_EQ(printed, kBel + "ERROR: " + texts.at(c.nerr) + " " + old + " " + c.tail + "\n");
        EXPECT_EQ(write(dir / "new.kiv", x, y), c.nerr);
        EXPECT_EQ(test::slurp(old), "previous contents");
        EXPECT_EQ(listing(dir.path), std::vector<std::string>{"old.kiv"});
    }
}

// ---------------------------------------------------- failure injection ----

namespace {

// Run body in a child process; its standard output goes to outfile. Returns
// the child's exit status, or -1 when it did not exit normally.
template <class Body> int inchild(const std::string& outfile, Body body) {
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(outfile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 1);
        ::close(fd);
        const int code = body();
        uflushall();
        std::fflush(stdout);
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t j = 0; j < n; ++j) s[j] = static_cast<char>(j * 13 + 5);
    return s;
}

// Write calls under zwabs: the k-th fails with an error, or (disk full) moves
// half its bytes and every later one fails.
int g_call = 0, g_failat = 0;
bool g_full = false;
long flakywrite(int fd, const void* buf, std::size_t n) {
    ++g_call;
    if (g_failat == 0 || g_call < g_failat) return ::write(fd, buf, n);
    if (g_full && g_call == g_failat) return ::write(fd, buf, n / 2);
    errno = g_full ? ENOSPC : EIO;
    return -1;
}

struct DffWriterFailure : DffWriter {
    std::string old, before = pattern(10000);
    void SetUp() override {
        DffWriter::SetUp();
        old = dir / "old.kiv";
        test::spit(old, before);
    }
    void TearDown() override {
        zsetio(nullptr, nullptr);
        DffWriter::TearDown();
    }
    // The old file as it was and nothing else beside it.
    void expectuntouched(const std::vector<std::string>& others = {}) {
        EXPECT_EQ(test::slurp(old), before);
        std::vector<std::string> want = others;
        want.push_back("old.kiv");
        std::sort(want.begin(), want.end());
        EXPECT_EQ(listing(dir.path), want);
    }
};

} // namespace

TEST_F(DffWriterFailure, FileSizeLimitHalfwayKeepsOldFileAndLeavesNoTemporary) {
    setnpts(1000);
    const auto y = ramp(1000, 0.5F);
    const std::string out = aux / "child.out";
    const auto limited = [&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit lim{2048, 2048}; // the samples cross it
        ::setrlimit(RLIMIT_FSIZE, &lim);
        std::int32_t nerr = 0;
        wkiv0(old, {}, y, nerr);
        return static_cast<int>(nerr);
    };
    EXPECT_EQ(inchild(out, limited), 115);
    EXPECT_EQ(test::slurp(out), kBel + "ERROR: T-write failed.\n");
    expectuntouched();

    // The same without an old file: nothing at all is left.
    std::filesystem::remove(old);
    EXPECT_EQ(inchild(out, limited), 115);
    EXPECT_TRUE(listing(dir.path).empty());
}

TEST_F(DffWriterFailure, AnyFailingWriteIs115AndKeepsOldFile) {
    // NPTS 300, uneven: the numeric words go in 1 piece, the text in 2, each
    // array in 3 (cut at 512-byte boundaries): 9 write calls in all.
    setnpts(300);
    cmhdr.l(lslot::LEVEN) = 0;
    const auto y = ramp(300, 1.0F), x = ramp(300, 2.0F);
    g_call = 0;
    g_failat = 0;
    zsetio(nullptr, flakywrite);
    ASSERT_EQ(write(dir / "probe.kiv", x, y), 0);
    ASSERT_EQ(g_call, 9);
    std::filesystem::remove(dir / "probe.kiv");
    for (int k = 1; k <= 9; ++k) {
        for (bool full : {false, true}) {
            g_call = 0;
            g_failat = k;
            g_full = full;
            std::string printed;
            EXPECT_EQ(write(old, x, y, &printed), 115) << k << full;
            EXPECT_EQ(printed, kBel + "ERROR: T-write failed.\n");
            expectuntouched();
        }
    }
}

TEST_F(DffWriterFailure, UncreatableTargetIs101AndKeepsOldFile) {
    std::filesystem::create_directory(dir.path / "sub");
    test::spit(dir / "sub/keep", "kept");
    const std::string sys = "(System error occurred.)";
    const std::string cases[] = {
        dir / "nodir/x.kiv",          // no such directory
        dir / "sub",                  // a directory stands there
        old + "/x.kiv",               // a file where a directory should be
        dir / std::string(1100, 'a'), // longer than any path
        dir / std::string(300, 'b'),  // longer than a file name
        "",                           // no name at all
    };
    setnpts(4);
    const auto y = ramp(4, 1.0F);
    for (const auto& name : cases) {
        std::string printed;
        EXPECT_EQ(write(name, {}, y, &printed), 101) << name.size();
        // The message system wraps long names; short ones read in one line.
        if (name.size() < 100) {
            EXPECT_EQ(printed, kBel + "ERROR: T-create failed: " + name + " " + sys + "\n");
        } else {
            EXPECT_NE(printed.find(sys), std::string::npos) << printed;
        }
        expectuntouched({"sub"});
        EXPECT_EQ(listing(dir.path / "sub"), std::vector<std::string>{"keep"});
    }

    // Out of descriptors: neither the directory nor a new file can be opened.
    const std::string out = aux / "child.out";
    EXPECT_EQ(
        inchild(out,
                [&] {
                    const int lowest = ::dup(0);
                    ::close(lowest);
                    const rlimit lim{static_cast<rlim_t>(lowest), static_cast<rlim_t>(lowest)};
                    ::setrlimit(RLIMIT_NOFILE, &lim);
                    std::int32_t nerr = 0;
                    wkiv0(old, {}, y, nerr);
                    return static_cast<int>(nerr);
                }),
        101);
    EXPECT_EQ(test::slurp(out), kBel + "ERROR: T-create failed: " + old + " " + sys + "\n");
    expectuntouched({"sub"});
}

TEST_F(DffWriterFailure, ReadOnlyDirectoryIs101WithAccessRights) {
    namespace fs = std::filesystem;
    fs::permissions(dir.path, fs::perms::owner_read | fs::perms::owner_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    setnpts(0);
    const std::string out = aux / "child.out";
    // Root may write anywhere: the write is made as an ordinary user then.
    const int status = inchild(out, [&] {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 99;
        std::int32_t nerr = 0;
        wkiv0(old, {}, {}, nerr);
        return static_cast<int>(nerr);
    });
    fs::permissions(dir.path, fs::perms::owner_all);
    EXPECT_EQ(status, 101);
    EXPECT_EQ(test::slurp(out),
              kBel + "ERROR: T-create failed: " + old + " (Insufficient access rights.)\n");
    expectuntouched();
}

TEST_F(DffWriterFailure, NoFreeUnitIs116WithNothingTouched) {
    for (std::int32_t u = 1; u <= 19; ++u)
        if (!uconnected(u)) {
            ASSERT_EQ(uopen(u, "", "SCRATCH"), 0) << u;
        }
    setnpts(0);
    std::string printed;
    EXPECT_EQ(write(old, {}, {}, &printed), 116);
    EXPECT_EQ(printed, kBel + "ERROR: T-no unit.\n");
    expectuntouched();
}
