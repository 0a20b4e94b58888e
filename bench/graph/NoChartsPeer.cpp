#include "bench/graph/PaintPeers.h"

std::unique_ptr<PaintPeer> MakeChartsPeer(QSize) {
    return nullptr;
}
