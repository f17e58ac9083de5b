#pragma once

#include "step/CycleContext.h"

/// Cycle events that record what a step reports.
class RecordingEvents : public CycleEvents
{
public:
    void setProgressText(const QString& text) override { progressTexts << text; }
    void setProgress(int position, int maximum) override
    {
        this->position = position;
        this->maximum = maximum;
    }
    void pumpEvents() override { ++pumps; }
    void RecoverFromCycleError() override { ++recoveries; }
    void failureCaught(const CycleFailure& failure) override { failures << failure; }
    void workDone(const QString& what, const QString& table) override { done << what + QLatin1Char(':') + table; }

    QStringList progressTexts;
    int position = -1;
    int maximum = -1;
    int pumps = 0;
    int recoveries = 0;
    QList<CycleFailure> failures;
    QStringList done;
};
