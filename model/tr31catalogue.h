#ifndef TR31CATALOGUE_H
#define TR31CATALOGUE_H

#include <QVariantMap>

class SlProperty;

// The TR-31 parameter memory beyond the basic identity block, and the two upload models built
// from it. Free functions over the tree; they keep no state.
void appendCatalogue(SlProperty *root);
QVariantMap makeParamsModel(SlProperty *root);
QVariantMap makeStatisticsModel(SlProperty *root);

#endif // TR31CATALOGUE_H
