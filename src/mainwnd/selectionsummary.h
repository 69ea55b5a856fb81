#pragma once

#include <QStringList>

class QPainter;

// The preview area's summary of the chosen recipients while nothing is
// recorded or played: the count and a group picture for several, the ID,
// display name and picture for one, a placeholder picture for none.
void paintSelectionSummary(QPainter& painter, const QStringList& recipients,
                           const QString& userFolder);
