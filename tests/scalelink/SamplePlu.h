#pragma once
// The product image the protocol tests send: number 258 unless given, code
// 000123, BANANA, 10 days, 20 g tare, 3.99, by weight, barcode with weight.
#include "ScaleProtocol.h"

#include <cstring>

inline ScalePlu samplePlu(uint16_t number = 258)
{
    ScalePlu plu;
    plu.number = number;
    plu.prefix = 2;
    std::memcpy(plu.code, "000123", 6);
    std::memcpy(plu.description, "BANANA", 6);
    plu.shelfLifeDays = 10;
    plu.tare = 20;
    plu.unitPrice = 399;
    plu.saleType = 1;
    plu.barcodeMode = 1;
    return plu;
}
