// Loading an address list file into the window's list: the model and a shown list view,
// against the plain sorted string list reading the same file (the peer).
// Usage: app_list_bench FILE...   prints one line per file.
#include <QApplication>
#include <QListView>
#include <chrono>
#include <cstdio>

#include "app/AddressListModel.h"
#include "base/StringList.h"

namespace {

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    for (int i = 1; i < argc; ++i) {
        const std::string file = argv[i];

        auto t0 = std::chrono::steady_clock::now();
        TStringList peer;
        peer.SetSorted(true);
        peer.LoadFromFile(file);
        const double peerTime = Seconds(std::chrono::steady_clock::now() - t0);

        TAddressListModel model;
        QListView view;
        view.setUniformItemSizes(true);
        view.setModel(&model);
        view.resize(250, 222);
        view.show();
        QApplication::processEvents();
        t0 = std::chrono::steady_clock::now();
        model.LoadFromFile(file);
        view.scrollToBottom();  // the view has to know every row to place the last one
        view.repaint();
        QApplication::processEvents();
        const double windowTime = Seconds(std::chrono::steady_clock::now() - t0);

        if (model.Count() != peer.Count()) {
            std::fprintf(stderr, "row counts differ: %d vs %d\n", model.Count(), peer.Count());
            return 1;
        }
        std::printf("%9d addresses: window list %.3f s, sorted string list %.3f s, ratio %.2f\n", model.Count(),
                    windowTime, peerTime, peerTime > 0 ? windowTime / peerTime : 0.0);
    }
    return 0;
}
