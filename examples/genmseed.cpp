// Writes the demo's miniSEED file with libmseed's packer: three components of
// one station, 20 samples a second for two minutes, their 512-byte Steim-2
// records interleaved as a digitiser sends them; the east component has a
// 10-second gap, and a text (log) record sits among the data.
//
//   genmseed FILE
#include <libmseed.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> records;

void keep(char* rec, int len, void*) {
    records.emplace_back(rec, static_cast<std::size_t>(len));
}

// One channel's records, packed from start for n samples of a wave train.
std::vector<std::string> channel(const char* chan, hptime_t start, int from, int n, double phase) {
    records.clear();
    std::vector<std::int32_t> y(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const double t = (from + i) / 20.0;
        const double arrival = t > 30 ? std::exp(-(t - 30) / 15) * std::sin(2 * M_PI * 0.8 * t + phase) : 0;
        y[static_cast<std::size_t>(i)] =
            static_cast<std::int32_t>(std::lround(40 * std::sin(0.3 * t + phase) + 9000 * arrival));
    }
    MSRecord* msr = msr_init(nullptr);
    std::strcpy(msr->network, "XK");
    std::strcpy(msr->station, "DEMO");
    std::strcpy(msr->location, "00");
    std::strcpy(msr->channel, chan);
    msr->dataquality = 'D';
    msr->starttime = start + static_cast<hptime_t>(from) * HPTMODULUS / 20;
    msr->samprate = 20;
    msr->reclen = 512;
    msr->encoding = DE_STEIM2;
    msr->byteorder = 1;
    msr->datasamples = y.data();
    msr->numsamples = n;
    msr->sampletype = 'i';
    std::int64_t packed = 0;
    msr_pack(msr, keep, nullptr, &packed, 1, 0);
    msr->datasamples = nullptr;
    msr_free(&msr);
    return records;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: genmseed FILE\n", stderr);
        return 1;
    }
    const hptime_t start = ms_time2hptime(2026, 341, 9, 15, 0, 250000);
    std::vector<std::vector<std::string>> chans = {
        channel("BHZ", start, 0, 2400, 0.0), channel("BHN", start, 0, 2400, 1.1)};
    std::vector<std::string> east = channel("BHE", start, 0, 1000, 2.2);
    for (std::string& r : channel("BHE", start, 1200, 1200, 2.2)) east.push_back(r);
    chans.push_back(east);
    // The log record: text, no sampling rate.
    records.clear();
    MSRecord* msr = msr_init(nullptr);
    std::strcpy(msr->network, "XK");
    std::strcpy(msr->station, "DEMO");
    std::strcpy(msr->channel, "LOG");
    msr->dataquality = 'D';
    msr->starttime = start;
    msr->reclen = 512;
    msr->encoding = DE_ASCII;
    std::string text = "GPS lock regained";
    msr->datasamples = text.data();
    msr->numsamples = static_cast<std::int64_t>(text.size());
    msr->sampletype = 'a';
    std::int64_t packed = 0;
    msr_pack(msr, keep, nullptr, &packed, 1, 0);
    msr->datasamples = nullptr;
    msr_free(&msr);
    const std::string log = records.at(0);

    std::FILE* f = std::fopen(argv[1], "wb");
    if (f == nullptr) return 1;
    for (std::size_t i = 0;; ++i) {
        bool any = false;
        for (const auto& c : chans)
            if (i < c.size()) std::fwrite(c[i].data(), 1, c[i].size(), f), any = true;
        if (i == 2) std::fwrite(log.data(), 1, log.size(), f);
        if (!any) break;
    }
    return std::fclose(f) == 0 ? 0 : 1;
}
