// Upgrade steps 1.0.0.0.7 to 1.0.0.0.13.
//
// Every text is sent exactly as written here (see steps_0_to_7.cpp). A new right
// column of UserQx may already exist on some databases, so adding it is tolerated;
// the updates that follow reset it for everyone and grant it to Admin either way.
#include "steps.h"

namespace upgrade::ladder::steps {

// clang-format off

void from7(Body& b) {
  b.continued({
      "Create table Cus_Gz(Cusid int IDENTITY(1,1),CusCode varchar(50),Cusxm varchar(50),Cusfzr varchar(50),Cusdz varchar(50),Custel varchar(50),Cushand varchar(50),Cuszt varchar(50),Cusrq datetime,Cusxg datetime,Cusxgr varchar(50)",
      " ,Cuscjr varchar(50),Cussafe varchar(50),CusPass varchar(50),Cusbz varchar(50),cusje float)",
  });
  b.continued({
      "Create table Cus_FKls(FKlsid int IDENTITY(1,1),FKlsCode varchar(50),FKlsxm varchar(50),FKlsfzr varchar(50),FKlsgdje float,FKlsssje float,FKlsfs varchar(50),FKlslx varchar(50),FKlssj datetime,FKlsjbbc varchar(50),FKlsjbsj datetime,",
      "FKlsrj datetime,FKlsczy varchar(50),FKlsbz varchar(50),FKlszdh varchar(50))",
  });
  b.plain("ALTER Table Fkmx add gzCode varchar(50),gzxm varchar(50)");
}

void from8(Body& b) {
  b.plain("ALTER Table hy add Ktz bit");
  // Bound as a bit, not pasted as text; the version update later binds a text to a
  // parameter of the same name in a separate command.
  b.bound("update hy set Ktz=:a1", "a1", false);
  // Step 1.0.0.0.5 adds this right as well; on such databases the addition fails.
  b.tolerant("ALTER Table UserQx add czy_JBls bit");
  b.plain("Update UserQx set czy_JBls=0 ");
  b.plain("Update UserQx set czy_JBls=1 where Usercode=" + quoted("Admin"));
}

void from9(Body& b) {
  b.tolerant("ALTER Table UserQx add gdfk bit,scxy bit,xgxy bit,qdxy bit");
  b.plain("Update UserQx set gdfk=0,qdxy=0,scxy=0,xgxy=0 ");
  b.plain("Update UserQx set gdfk=1,qdxy=1,scxy=1,xgxy=1 where Usercode=" + quoted("Admin"));
}

void from10(Body& b) {
  b.plain("ALTER Table hy add Kcsje float");
  b.plain("update hy set Kcsje=0");
  b.plain("ALTER Table SaleDls add ts int,bz varchar(2000)");
  b.tolerant("ALTER Table UserQx add hyphtj bit,spphtj bit,xftdcx bit,yyzhtj bit");
  b.plain("Update UserQx set hyphtj=0,spphtj=0,xftdcx=0,yyzhtj=0");
  b.plain("Update UserQx set hyphtj=1,spphtj=1,xftdcx=1,yyzhtj=1 where Usercode=" + quoted("Admin"));
  b.plain("ALTER Table lbxf add dqzt varchar(50)");
  b.plain("ALTER Table Tlbxf add dqzt varchar(50)");
}

void from11(Body& b) {
  b.plain("Create Table xtcs(code varchar(50),Intvalue int )");
  b.tolerant("ALTER Table UserQx add bjqy bit");
  b.plain("Update UserQx set bjqy=0");
  b.plain("Update UserQx set bjqy=1 where Usercode=" + quoted("Admin"));
  // lbxf and Tlbxf differ on purpose: only Tlbxf gets a default and has its rows set.
  b.plain("ALTER Table lbxf add xfld int");
  b.plain("ALTER Table Tlbxf add xfld int Default 0");
  b.plain("Update Tlbxf set xfld=1");
  b.plain("Insert into Bzlb(bzbm,bzmc) values(4," + quoted("消费退单备注") + ")");
  b.plain("Update syd set sy_jb=1 where sydmr=1");
}

void from12(Body& b) {
  b.plain("ALTER Table Sph add Blzt varchar(50)");
  b.plain("ALTER Table JzSph add Blzt varchar(50)");
}

// clang-format on

}  // namespace upgrade::ladder::steps
