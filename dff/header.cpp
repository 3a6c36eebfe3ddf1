// The current header: its constants, its defaults and access to its fields by
// name.
#include "dff/dff.h"

#include "co/co.h"
#include "msg/msg.h"

#include <algorithm>

namespace kivf {

CmHdr cmhdr;
KmHdr kmhdr;

void inihdr() {
    cmhdr.curhver = kCurHver;
    cmhdr.undfflt = kUndfFlt;
    cmhdr.undfenm = kUndfEnm;
    cmhdr.undfint = kUndfInt;
    kmhdr.undftxt.set(kUndfTxt);
    for (std::int32_t n = 1; n <= kNumEnum; ++n) cmhdr.ienm[static_cast<std::size_t>(n - 1)] = n;
}

void newhdr() {
    // The records are zero at program start, so this runs on the first call
    // only: the catalogue and the messages are set up once per process.
    if (cmhdr.undfflt != kUndfFlt) {
        inihdr();
        inilhf();
        inimsg();
    }
    cmhdr.fhdr.fill(cmhdr.undfflt);
    cmhdr.nhdr.fill(cmhdr.undfint);
    cmhdr.ihdr.fill(cmhdr.undfenm);
    cmhdr.lhdr.fill(0);
    kmhdr.khdr.fill(kmhdr.undftxt);

    cmhdr.n(nslot::NVHDR) = cmhdr.curhver;
    cmhdr.l(lslot::LEVEN) = 1;
    cmhdr.l(lslot::LOVROK) = 1;
    cmhdr.l(lslot::LCALDA) = 1;
    cmhdr.n(nslot::NINF) = 0;
    cmhdr.n(nslot::NHST) = 0;
    cmhdr.i(islot::IFTYPE) = cmhdr.ienm[ienum::ITIME - 1];
}

namespace {

// Slot of kname in one group's name list, 0 when absent. Only the first eight
// characters count; they are upper-cased, leading blanks stay (and so never
// match).
template <std::size_t M>
std::int32_t slotof(std::string_view kname, const std::array<Text<8>, M>& list) {
    Text<8> scratch;
    blank(scratch);
    const std::int32_t n = std::min(indexb(kname), 8);
    modcase(true, kname, n, scratch);
    return nequal(scratch, list);
}

// An unknown name is printed at once: the caller need not check.
void notfound(std::string_view kname, std::int32_t& nerr) {
    nerr = 1337;
    setmsg("ERROR", nerr);
    apcmsg(kname);
    wrtmsg(kStdout);
}

} // namespace

void setfhv(std::string_view kname, float fvalue, std::int32_t& nerr) {
    nerr = 0;
    const std::int32_t slot = slotof(kname, kmlhf.kfhdr);
    if (slot == 0) return notfound(kname, nerr);
    cmhdr.f(slot) = fvalue;
}

void setnhv(std::string_view kname, std::int32_t nvalue, std::int32_t& nerr) {
    nerr = 0;
    const std::int32_t slot = slotof(kname, kmlhf.knhdr);
    if (slot == 0) return notfound(kname, nerr);
    cmhdr.n(slot) = nvalue;
}

void setkhv(std::string_view kname, std::string_view kvalue, std::int32_t& nerr) {
    nerr = 0;
    const std::int32_t slot = slotof(kname, kmlhf.kkhdr);
    if (slot == 0) return notfound(kname, nerr);
    kmhdr.k(slot).set(kvalue); // cut or blank-padded to 8
    // The event name is 16 characters: its second half lives in the next slot.
    if (slot == kslot::KEVNM) kmhdr.k(kslot::KEVNMC).set(kvalue.size() > 8 ? kvalue.substr(8) : "");
}

} // namespace kivf
