#include "measure/MeasurementSample.h"

#include <iterator>
#include <vector>

#include "measure/TextRules.h"

void MeasurementSample::Parse(const std::string& line) {
    rawLine = line;
    const std::vector<std::string> pieces = SplitText(line, ' ');
    std::string* const fields[] = {&irradianceText, &integralIrradianceText, &peakIrradianceText};
    for (std::size_t i = 0; i < pieces.size() && i < std::size(fields); ++i) {
        *fields[i] = pieces[i];
    }
}

double MeasurementSample::ValueOf(int type) const {
    const std::string* field = FieldOf(type);
    return field != nullptr ? TextToDouble(*field) : 0.0;
}

std::string MeasurementSample::TextOf(int type) const {
    const std::string* field = FieldOf(type);
    return field != nullptr ? *field : std::string("0");
}

std::string MeasurementSample::CsvFields() const {
    return irradianceText + "," + integralIrradianceText + "," + peakIrradianceText;
}

const std::string* MeasurementSample::FieldOf(int type) const {
    switch (type) {
        case Irradiance:
            return &irradianceText;
        case IntegralIrradiance:
            return &integralIrradianceText;
        case PeakIrradiance:
            return &peakIrradianceText;
        default:
            return nullptr;
    }
}
