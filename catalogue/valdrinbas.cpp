#include "catalogue/valdrinbas.h"

namespace ValdrinBas {

QStringList ListPages{QString()};
QString ServerMessage;

} // namespace ValdrinBas
