#include "serving/valdrinbas.h"

namespace ValdrinBas {

ListPageSet ListPages;
QString ServerMessage;

} // namespace ValdrinBas
