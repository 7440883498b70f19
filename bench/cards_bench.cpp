// The card window's work as a person waits for it: a card of 15 real saves opened with every
// list picture drawn (the drawer made once, as the window keeps it), and one save imported
// into or deleted from an 8 MB card (each a whole change: lock, check, write beside, sync,
// backup, replace, reread).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/psu_contents.h"
#include "base/host_files.h"
#include "cards/cards_model.h"
#include "fixtures.h"
#include "operations/open_save.h"
#ifdef MARROWIN_BENCH_PICTURES
#include "cards/card_pictures.h"
#endif

using namespace marrowin;
using namespace marrowin::cards;

namespace {

const char* const SAVES[] = {"formats/final-fantasy12.max", "formats/tokyo-xtreme-racer-drift-2.14091.cbs",
                             "formats/max-payne.1394.sps", "formats/BESLES-50325.PSV", "../../samples/demo.psu"};

// A folder under /tmp holding a card image with 15 saves (each real save three times, under
// three folder names) and one more save file to import; removed at exit.
struct Workshop {
    std::string dir, card, extra;
    Workshop() {
        char pattern[] = "/tmp/marrowin-cards-bench-XXXXXX";
        dir = mkdtemp(pattern);
        card = dir + "/card.ps2";
        extra = dir + "/extra.psu";
        std::string error;
        if (!CardsModel::newCard(card, NewCardKind::ImageWithEcc, error)) std::abort();
        std::vector<std::string> files;
        for (int copy = 0; copy < 3; ++copy)
            for (const char* s : SAVES) {
                OpenOptions what;
                what.image = false;
                what.contents = true;
                OpenedSave opened;
                if (!openSave(fixtures::testDataPath(s), what, opened, error)) std::abort();
                SaveContents save = std::move(opened.contents);
                if (copy) save.folderName = save.folderName.substr(0, 28) + "-" + std::to_string(copy);
                std::vector<uint8_t> bytes;
                if (!writePsu(save, bytes, error)) std::abort();
                const std::string path = dir + "/" + std::to_string(files.size()) + ".psu";
                if (writeNewFile(path, bytes.data(), bytes.size()) != 0) std::abort();
                files.push_back(path);
                if (copy == 2 && files.size() == 15) {
                    save.folderName = "BASLUS-99999EXTRA";
                    if (!writePsu(save, bytes, error) || writeNewFile(extra, bytes.data(), bytes.size()) != 0)
                        std::abort();
                }
            }
        CardsModel m;
        if (!m.open({card}, error)) std::abort();
        for (const ImportOutcome& o : m.importFiles(files, {}))
            if (o.kind != ImportOutcome::Kind::Imported) std::abort();
        if (m.rows().size() != 15) std::abort();
    }
    ~Workshop() { removeTree(dir); }
};

Workshop& workshop() {
    static Workshop w;
    return w;
}

#ifdef MARROWIN_BENCH_PICTURES
void BM_OpenCardAndDrawEveryPicture(benchmark::State& state) {
    Workshop& w = workshop();
    std::string error;
    std::unique_ptr<PictureDrawer> drawer = makeIconPictureDrawer(64, error);
    if (!drawer) {
        state.SkipWithError(error.c_str());
        return;
    }
    size_t drawn = 0;
    for (auto _ : state) {
        CardsModel m;
        if (!m.open({w.card}, error)) std::abort();
        PictureCache cache(*drawer, 64);
        drawn = 0;
        for (size_t i = 0; i < m.rows().size(); ++i) drawn += !cache.pictureOf(m, i).empty();
    }
    state.counters["pictures"] = double(drawn);
}
BENCHMARK(BM_OpenCardAndDrawEveryPicture)->Unit(benchmark::kMillisecond)->UseRealTime();

// What the window pays once, at its start.
void BM_MakePictureDrawer(benchmark::State& state) {
    std::string error;
    for (auto _ : state) benchmark::DoNotOptimize(makeIconPictureDrawer(64, error));
}
BENCHMARK(BM_MakePictureDrawer)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

void BM_OpenCard(benchmark::State& state) {
    Workshop& w = workshop();
    std::string error;
    for (auto _ : state) {
        CardsModel m;
        if (!m.open({w.card}, error)) std::abort();
        benchmark::DoNotOptimize(m.rows().data());
    }
}
BENCHMARK(BM_OpenCard)->Unit(benchmark::kMillisecond)->UseRealTime();

size_t rowOf(const CardsModel& m, const std::string& folder) {
    for (size_t i = 0; i < m.rows().size(); ++i)
        if (m.rows()[i].folder == folder) return i;
    std::abort();
}

void BM_ImportOneSave(benchmark::State& state) {
    Workshop& w = workshop();
    std::string error;
    CardsModel m;
    if (!m.open({w.card}, error)) std::abort();
    for (auto _ : state) {
        if (m.importFiles({w.extra}, {})[0].kind != ImportOutcome::Kind::Imported) std::abort();
        state.PauseTiming();
        if (!m.deleteSaves({rowOf(m, "BASLUS-99999EXTRA")}, error)) std::abort();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ImportOneSave)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DeleteOneSave(benchmark::State& state) {
    Workshop& w = workshop();
    std::string error;
    CardsModel m;
    if (!m.open({w.card}, error)) std::abort();
    for (auto _ : state) {
        state.PauseTiming();
        if (m.importFiles({w.extra}, {})[0].kind != ImportOutcome::Kind::Imported) std::abort();
        const size_t row = rowOf(m, "BASLUS-99999EXTRA");
        state.ResumeTiming();
        if (!m.deleteSaves({row}, error)) std::abort();
    }
}
BENCHMARK(BM_DeleteOneSave)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
