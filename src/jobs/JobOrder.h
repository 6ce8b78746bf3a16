// The order in which a pass takes the jobs of its scan: one job of each
// register in turn, so that a register dropping hundreds of jobs at once
// delays another register's job by at most one job of its own.
//
// A job's register is read from its name, since the client id is only known
// once the file is read: the job name (the file name less ".TSE") with a
// trailing number and the separators before it ("_", "-", ".", " ", "#")
// taken off. "KASSE01_123.TSE" and "KASSE01-124.TSE" belong to "KASSE01";
// "KASSE01.TSE" and "KASSE02.TSE" are two registers, as is "BON7.TSE" (no
// separator before the number: the whole name is the register).
#pragma once

#include <QByteArray>
#include <QList>

// The register a job file belongs to, as bytes of its name.
QByteArray RegisterOfJob(const QByteArray& jobFile);

// The job files in the order to take them: round after round, one job of
// each register; registers in the order their first job was listed, the jobs
// of one register in their listed order.
QList<QByteArray> FairOrder(const QList<QByteArray>& jobFiles);
