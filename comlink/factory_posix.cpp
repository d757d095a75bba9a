#include "comlink/factory.h"
#include "comlink/posix_port.h"

namespace {

const PosixOs* factoryOs = nullptr;  // null: the real calls

}  // namespace

CComPort* CreateComPort(int portIndex, int rxQueueSize, int txQueueSize) {
    return new CPosixPort(portIndex, rxQueueSize, txQueueSize, 0, factoryOs);
}

const PosixOs* SetFactoryPosixOs(const PosixOs* os) {
    const PosixOs* previous = factoryOs;
    factoryOs = os;
    return previous;
}
