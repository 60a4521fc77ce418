#pragma once

#include <QStringList>

// The school database as the served program leaves it before the update, made in Access SQL.
inline QStringList schoolDatabase() {
    return {
        QStringLiteral(
            "CREATE TABLE student (student_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, student_fam "
            "VARCHAR(50))"),
        QStringLiteral("INSERT INTO student (student_fam) VALUES ('Иванов')"),
        QStringLiteral("CREATE TABLE diploma (diploma_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, "
                       "student_id INTEGER)"),
        QStringLiteral(
            "CREATE TABLE grafik_hours (grafik_hours_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, "
            "grafik_name VARCHAR(50))"),
        QStringLiteral("INSERT INTO grafik_hours (grafik_name) VALUES ('Основной')"),
        QStringLiteral("INSERT INTO grafik_hours (grafik_name) VALUES ('Ускоренный')"),
        QStringLiteral("CREATE TABLE gruppa (gruppa_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, "
                       "gruppa_name VARCHAR(50))"),
        QStringLiteral("INSERT INTO gruppa (gruppa_name) VALUES ('1-22')"),
        QStringLiteral(
            "CREATE TABLE teach_obj (teach_obj_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, teach_obj_name "
            "VARCHAR(255), teach_obj_cycle VARCHAR(255), teach_obj_sokr VARCHAR(255))"),
        QStringLiteral(
            "INSERT INTO teach_obj (teach_obj_name, teach_obj_cycle, teach_obj_sokr) VALUES ('Вождение "
            "автомобиля', 'Специальный', 'ВА')"),
        QStringLiteral(
            "INSERT INTO teach_obj (teach_obj_name, teach_obj_cycle, teach_obj_sokr) VALUES ('Устройство', "
            "'Специальный', 'УСТ')"),
        QStringLiteral(
            "CREATE TABLE category_tc (category_tc_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, "
            "category_tc_name VARCHAR(255), category_tc_description VARCHAR(255), category_tc_gibdd "
            "VARCHAR(255))"),
        QStringLiteral(
            "CREATE TABLE edu_plan (edu_plan_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, category_tc_id "
            "INTEGER, teach_obj_id INTEGER, edu_plan_theory INTEGER, edu_plan_lpz INTEGER, edu_plan_practice "
            "INTEGER, edu_plan_prom_attest INTEGER)"),
        QStringLiteral(
            "CREATE TABLE obob_uch_plan (obob_uch_plan_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, "
            "category_tc_id INTEGER, obob_hours INTEGER)"),
        QStringLiteral("CREATE TABLE car (car_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, car_name "
                       "VARCHAR(50), car_ad BIT)"),
        QStringLiteral("CREATE TABLE prepod (prepod_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, prepod_fam "
                       "VARCHAR(50), "
                       "prepod_ad BIT)"),
        QStringLiteral("CREATE TABLE Instruktor (Instruktor_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, "
                       "instruktor_fam "
                       "VARCHAR(50), Instruktor_ad BIT)"),
    };
}
