#include "dictation/indicator_model.h"

#include <algorithm>

namespace zavren {

IndicatorModel indicatorModel(const AppState& st) {
    IndicatorModel m;
    for (std::size_t i = 0; i < m.barHeights.size(); ++i)
        m.barHeights[i] = std::max(st.levels()[i] * IndicatorModel::BAR_ROW_HEIGHT,
                                   IndicatorModel::MIN_BAR_HEIGHT);

    if (st.hint()) {
        m.row = IndicatorModel::Row::hint;
        m.text = *st.hint();
    } else if (st.state() == RecState::transcribing) {
        m.row = IndicatorModel::Row::transcribing;
        m.text = TRANSCRIBING_TEXT;
    } else {
        m.row = IndicatorModel::Row::bars;
        m.text = LISTENING_TEXT;
        m.showPreview = st.state() == RecState::listening && !st.preview().empty();
        if (m.showPreview) m.preview = st.preview();
    }
    return m;
}

}  // namespace zavren
