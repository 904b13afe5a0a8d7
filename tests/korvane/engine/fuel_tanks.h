// The six fuel contents gauges as the tests expect them: variables, dial
// picture, last mark and calibration table (the value of a point is gallons).
#pragma once

#include <cstdint>
#include <vector>

namespace fuel_tanks {

// A point of a needle's calibration table: the needle's tip at (x, y) of the
// dial for the value.
struct TablePoint {
    int32_t x = 0;
    int32_t y = 0;
    double value = 0.0;
};

inline const std::vector<TablePoint> kTank1Table{{31, 123, 0},    {10, 100, 20},  {3, 70, 50},    {12, 36, 100},
                                                 {70, 3, 200},    {129, 41, 300}, {136, 63, 350}, {133, 90, 400},
                                                 {113, 121, 450}, {95, 132, 500}};
inline const std::vector<TablePoint> kTank2Table{{31, 123, 0},   {11, 100, 10},  {4, 70, 20},   {37, 13, 80},
                                                 {119, 25, 160}, {135, 77, 240}, {96, 130, 310}};
inline const std::vector<TablePoint> kTank3Table{{27, 120, 0},  {4, 81, 5},    {12, 37, 10},  {81, 5, 30},
                                                 {131, 47, 50}, {132, 92, 70}, {102, 126, 90}};

struct Tank {
    const char* name;
    uint32_t level_token;
    uint32_t capacity_token;
    uint32_t bitmap;
    double upper;  // gallons at the dial's last mark
    const std::vector<TablePoint>* table;
};

// In the host's table order.
inline const Tank kTanks[] = {
    {"Fuel_Quantity_Port_1", 291, 292, 375, 500, &kTank1Table},
    {"Fuel_Quantity_Stbd_1", 297, 298, 375, 500, &kTank1Table},
    {"Fuel_Quantity_Port_2", 293, 294, 380, 310, &kTank2Table},
    {"Fuel_Quantity_Stbd_2", 299, 300, 380, 310, &kTank2Table},
    {"Fuel_Quantity_Port_3", 295, 296, 385, 90, &kTank3Table},
    {"Fuel_Quantity_Stbd_3", 301, 302, 385, 90, &kTank3Table},
};

}  // namespace fuel_tanks
