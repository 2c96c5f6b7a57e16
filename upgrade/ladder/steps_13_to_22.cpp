// Upgrade steps 1.0.0.0.13 to 1.0.0.0.22.
//
// Every text is sent exactly as written here (see steps_0_to_7.cpp); table names
// keep the letter case each statement has always used (Lbxf and lbxf, TLbxf and
// Tlbxf), which the server does not distinguish.
#include "steps.h"

namespace upgrade::ladder::steps {

// clang-format off

void from13(Body& b) {
  b.plain("Create Table KZTimer(KZbj int ,KZsj Datetime)");
  b.plain("Update KZTimer set KZbj=0");
  b.continued({
      "Create Table Time_Fee(Time_code varchar(50) ,Jbbm varchar(50),Jbmc varchar(50),jbtime int,Mdbm varchar(50),Mdmc varchar(50),Mdtime int,CSbm varchar(50),CSmc varchar(50),THtime int,Hftime int,Jbjsfs varchar(50),fjbmin  int,fJbfee float,Sjbmin int",
      ",SJbfee float,jbmd bit,Pjmin int,Pjfee float,FeeBZ int)",
  });
  b.plain("ALTER Table BFLB add BFLB_Jf varchar(50)");
  b.plain("ALTER Table Lbxf add Time_fee int Default 0,Time_fs varchar(50),Time_md bit");
  b.plain("ALTER Table TLbxf add Time_fee int Default 0,Time_fs varchar(50),Time_md bit");
  b.plain("update TLbxf set Time_fee=0,Time_fs=" + quoted("*"));
  b.plain("update Lbxf set Time_fee=0,Time_fs=" + quoted("*"));
}

void from14(Body& b) {
  b.plain("Insert into Bzlb(bzbm,bzmc) values(5," + quoted("取消客房备注") + ")");
  b.plain("Create Table KF_Cance(KHbm varchar(50),qxsj Datetime,Qxyy varchar(200),QxUser varchar(50),KFczy varchar(50),Kfsph varchar(50),KFsj Datetime)");
}

void from15(Body& b) {
  b.plain("Insert into Bzlb(bzbm,bzmc) values(6," + quoted("更换客房备注") + ")");
  b.plain("ALTER Table TBFXf add zrbfh varchar(50),Zrsph varchar(50),ZrRemark varchar(500)");
}

void from16(Body& b) {
  b.plain("ALTER Table BFXf add zrbfh varchar(50),Zrsph varchar(50),ZrRemark varchar(500)");
}

// Both may fail on a given database (an identity column already there; the key
// names a column pkid that no step adds) and the step goes on regardless.
void from17(Body& b) {
  b.tolerant("ALTER Table lbxf add xfid int IDENTITY(1,1)");
  b.tolerant("ALTER Table lbxf add constraint pkid PRIMARY KEY(pkid)");
}

void from18(Body& b) {
  b.plain("ALTER Table lbxf add Time_mode varchar(50)");
  b.plain("ALTER Table Tlbxf add Time_mode varchar(50)");
}

void from19(Body& b) {
  b.plain("Create Table KF_Door(Doorid varchar(50),Zxsj Datetime,Kfsj Datetime,tfsj Datetime,Tdczy varchar(50),KFczy varchar(50),Kfsph varchar(50),KFd varchar(50))");
  b.plain("ALTER Table UserQx add bjsyd bit");
  b.plain("Update UserQx set bjsyd=0");
  b.plain("Update UserQx set bjsyd=1 where Usercode=" + quoted("Admin"));
  // Items charged by time: those named as a fee item of any time tariff.
  b.plain("ALTER Table xfxm add xfjfxm bit");
  b.plain("Update xfxm set xfjfxm=1 from Time_Fee where Jbbm=Xmbm");
  b.plain("Update xfxm set xfjfxm=1 from Time_Fee where Mdbm=Xmbm");
  b.plain("Update xfxm set xfjfxm=1 from Time_Fee where CSbm=Xmbm");
}

void from20(Body& b) {
  // zkmxcode becomes an identity column: dropped and added again.
  b.plain("ALTER TABLE zkmx  DROP COLUMN zkmxcode");
  b.plain("ALTER Table zkmx add zkmxcode int IDENTITY(1,1)");
  b.plain("ALTER Table BFXf add BFJz datetime");
  b.plain("ALTER Table TBFXf add BFJz datetime");
  b.plain("update BFXf set BFJz=jzsj  from jzzd where Zdh=Bfzdh");
  b.plain("ALTER Table UserQx add KFjl bit");
  b.plain("Update UserQx set KFjl=0");
  b.plain("Update UserQx set KFjl=1 where Usercode=" + quoted("Admin"));
}

void from21(Body& b) {
  b.plain("ALTER Table UserQx add xmfltj bit");
  b.plain("Update UserQx set xmfltj=0");
  b.plain("Update UserQx set xmfltj=1 where Usercode=" + quoted("Admin"));
}

// clang-format on

}  // namespace upgrade::ladder::steps
