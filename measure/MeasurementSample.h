// One reading of a run, kept as the instrument's text: the received line and its three
// space-separated value texts. Values become numbers only for drawing (ValueOf).
// A plain value type: copy it freely; one thread at a time per object.
#pragma once

#include <string>

// Selects one quantity of a record; the order of the graph window's radio buttons.
enum DataType { Irradiance = 0, IntegralIrradiance = 1, PeakIrradiance = 2 };

class MeasurementSample {
public:
    // Fills the record from one line (without its carriage return): rawLine takes the whole
    // line, the value texts take the first three space-separated pieces. A field without a
    // piece keeps its previous content; pieces after the third are ignored.
    void Parse(const std::string& line);

    // The selected field as a number (see TextToDouble); 0.0 for any other type.
    double ValueOf(int type) const;
    // A copy of the selected field; "0" for any other type.
    std::string TextOf(int type) const;
    // The three value texts joined by ",", nothing quoted or added.
    std::string CsvFields() const;

    std::string rawLine;
    std::string irradianceText;
    std::string integralIrradianceText;
    std::string peakIrradianceText;

private:
    const std::string* FieldOf(int type) const;
};
