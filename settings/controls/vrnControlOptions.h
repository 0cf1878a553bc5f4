#pragma once
// The processing options as the Setup page's controls hold them at this moment.

#include <vector>

#include "settings/ProgramSettings.h"
#include "settings/controls/vrnCheckBox.h"
#include "settings/controls/vrnComboBox.h"
#include "settings/controls/vrnLabeledEdit.h"

class TvrnControlOptions : public TProcessingOptions {
public:
    void Add(TvrnLabeledEdit* edit) { edits_.push_back(edit); }
    void Add(TvrnCheckBox* box) { boxes_.push_back(box); }
    void Add(TvrnComboBox* combo) { combos_.push_back(combo); }

    bool Ticked(std::string_view valueName) const override;
    std::string PathText(std::string_view valueName) const override;

private:
    std::vector<TvrnLabeledEdit*> edits_;
    std::vector<TvrnCheckBox*> boxes_;
    std::vector<TvrnComboBox*> combos_;
};
